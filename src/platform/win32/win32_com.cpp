// COM apartments as per-thread bookkeeping (so a second model on the same thread is refused), and
// GUIDs.
#include <sys/random.h>

#include <cerrno>

#include "platform/win_com.h"
#include "platform/win_error.h"

namespace {

struct Apartment {
    int initCount = 0;
    DWORD model = 0;
};

thread_local Apartment apartment;

}  // namespace

extern "C" HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
    DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (apartment.initCount > 0) {
        if (apartment.model != model) return RPC_E_CHANGED_MODE;
        ++apartment.initCount;
        return S_FALSE;
    }
    apartment.model = model;
    apartment.initCount = 1;
    return S_OK;
}

extern "C" HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

extern "C" void CoUninitialize() {
    if (apartment.initCount > 0) --apartment.initCount;
}

extern "C" HRESULT CoCreateGuid(GUID* guid) {
    if (!guid) return E_INVALIDARG;
    unsigned char bytes[16];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        ssize_t n = ::getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return E_FAIL;
        filled += static_cast<std::size_t>(n);
    }
    guid->Data1 = (static_cast<std::uint32_t>(bytes[0]) << 24) | (bytes[1] << 16) | (bytes[2] << 8) | bytes[3];
    guid->Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
    // Version 4 (random) and the RFC 4122 variant, as Windows' own GUIDs.
    guid->Data3 = static_cast<std::uint16_t>((((bytes[6] << 8) | bytes[7]) & 0x0FFF) | 0x4000);
    for (int i = 0; i < 8; ++i) guid->Data4[i] = bytes[8 + i];
    guid->Data4[0] = static_cast<std::uint8_t>((guid->Data4[0] & 0x3F) | 0x80);
    return S_OK;
}
