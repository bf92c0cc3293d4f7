// MultiByteToWideChar / WideCharToMultiByte over iconv, with the Windows length rules: a length of
// -1 means NUL-terminated (the NUL is converted and counted), an output size of 0 asks for the size
// needed, a smaller output fails with ERROR_INSUFFICIENT_BUFFER.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/win_error.h"
#include "platform/win_string.h"

namespace {

// CP_ACP is GBK (code page 936), as on a Chinese Windows. Null for a page the stand-in does not offer.
const char* charsetForCodePage(UINT codePage) {
    if (codePage == CP_ACP) return "GBK";
    return codePage == CP_UTF8 ? "UTF-8" : nullptr;
}

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(::iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) ::iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

int failWith(DWORD error) {
    SetLastError(error);
    return 0;
}

// Converts all of `input`; each input unit that cannot be converted becomes `replacement`.
template <typename Out>
void convert(Converter& converter, const char* input, std::size_t inputBytes, std::size_t unitBytes,
             std::basic_string<Out>& output, const std::basic_string<Out>& replacement) {
    auto* in = const_cast<char*>(input);
    std::size_t inLeft = inputBytes;
    Out chunk[256];
    while (inLeft > 0) {
        auto* out = reinterpret_cast<char*>(chunk);
        std::size_t outLeft = sizeof chunk;
        std::size_t rc = ::iconv(converter.get(), &in, &inLeft, &out, &outLeft);
        output.append(chunk, (sizeof chunk - outLeft) / sizeof(Out));
        if (rc != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        // EILSEQ or an incomplete sequence at the end: one unit is skipped.
        output += replacement;
        std::size_t skip = std::min(unitBytes, inLeft);
        in += skip;
        inLeft -= skip;
        ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength, LPWSTR wide,
                                   int wideLength) {
    const char* charset = charsetForCodePage(codePage);
    if (!charset || !multiByte || multiByteLength == 0 || multiByteLength < -1 || wideLength < 0 ||
        (!wide && wideLength != 0) || (wide && static_cast<const void*>(wide) == static_cast<const void*>(multiByte))) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    if (flags != 0) return failWith(ERROR_INVALID_FLAGS);
    std::size_t bytes = multiByteLength == -1 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteLength);
    Converter converter("WCHAR_T", charset);
    if (!converter.ok()) return failWith(ERROR_INVALID_PARAMETER);
    std::wstring result;
    convert<wchar_t>(converter, multiByte, bytes, 1, result, L"\uFFFD");
    auto needed = static_cast<int>(result.size());
    if (wideLength == 0) return needed;
    if (wideLength < needed) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::wmemcpy(wide, result.data(), result.size());
    return needed;
}

// UTF-8 only; like Windows it has no default character, so defaultChar and usedDefaultChar must be null.
extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR multiByte,
                                   int multiByteLength, LPCSTR defaultChar, BOOL* usedDefaultChar) {
    if (codePage != CP_UTF8 || !wide || wideLength == 0 || wideLength < -1 || multiByteLength < 0 ||
        (!multiByte && multiByteLength != 0) ||
        (multiByte && static_cast<const void*>(wide) == static_cast<const void*>(multiByte)) || defaultChar ||
        usedDefaultChar) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    if (flags != 0) return failWith(ERROR_INVALID_FLAGS);
    std::size_t count = wideLength == -1 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(wideLength);
    Converter converter("UTF-8", "WCHAR_T");
    if (!converter.ok()) return failWith(ERROR_INVALID_PARAMETER);
    std::string result;
    convert<char>(converter, reinterpret_cast<const char*>(wide), count * sizeof(wchar_t), sizeof(wchar_t), result,
                  "\xEF\xBF\xBD");
    auto needed = static_cast<int>(result.size());
    if (multiByteLength == 0) return needed;
    if (multiByteLength < needed) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(multiByte, result.data(), result.size());
    return needed;
}
