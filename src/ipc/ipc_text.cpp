#include "ipc/ipc_text.h"

#include <climits>

#include "platform/windows.h"

std::string utf8FromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    int length =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string out(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), length, nullptr, nullptr);
    return out;
}

std::wstring wideFromUtf8(const std::string& text) {
    // Converted once, into room for the longest result, then trimmed: a reply lists a whole batch,
    // and sizing it first took a second pass. Every byte starts at most one unit, so the room is
    // what the text needs when it is ASCII.
    if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return std::wstring();
    std::wstring out(text.size(), L'\0');
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                                           static_cast<int>(out.size()));
    out.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return out;
}
