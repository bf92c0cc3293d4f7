// MultiByteToWideChar / WideCharToMultiByte over iconv, with the Windows length rules: a length of
// -1 means NUL-terminated (the NUL is converted and counted), an output size of 0 asks for the size
// needed, a smaller output fails with ERROR_INSUFFICIENT_BUFFER.
#include "win32_codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <string>

#include "platform/win_error.h"
#include "platform/win_string.h"

namespace nimbrel::platform {

const char* charsetForCodePage(UINT codePage) {
    switch (codePage) {
        case CP_ACP:
        case CP_OEMCP:
        case 936:
            return "GBK";
        case CP_UTF8:
            return "UTF-8";
        case 437:
            return "CP437";
        case 1252:
            return "CP1252";
        case 20127:
            return "ASCII";
        default:
            return nullptr;
    }
}

}  // namespace nimbrel::platform

namespace {

constexpr wchar_t kReplacementCharacter = 0xFFFD;

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

// Converts all of `input`; `onInvalid` is called for each input unit that cannot be converted and
// answers false to stop. Answers false when conversion stopped.
template <typename Out, typename OnInvalid>
bool convert(Converter& converter, const char* input, std::size_t inputBytes, std::size_t unitBytes,
             std::basic_string<Out>& output, OnInvalid onInvalid) {
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
        if (!onInvalid(output)) return false;
        std::size_t skip = std::min(unitBytes, inLeft);
        in += skip;
        inLeft -= skip;
        ::iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

}  // namespace

extern "C" int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteLength, LPWSTR wide,
                                   int wideLength) {
    const char* charset = nimbrel::platform::charsetForCodePage(codePage);
    if (!charset || !multiByte || multiByteLength == 0 || multiByteLength < -1 || wideLength < 0 ||
        (!wide && wideLength != 0) || (wide && static_cast<const void*>(wide) == static_cast<const void*>(multiByte))) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    if (codePage == CP_UTF8 && (flags & ~MB_ERR_INVALID_CHARS) != 0) return failWith(ERROR_INVALID_FLAGS);
    std::size_t bytes = multiByteLength == -1 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteLength);
    Converter converter("WCHAR_T", charset);
    if (!converter.ok()) return failWith(ERROR_INVALID_PARAMETER);
    std::wstring result;
    bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
    bool done = convert<wchar_t>(converter, multiByte, bytes, 1, result, [&](std::wstring& out) {
        if (strict) return false;
        out += kReplacementCharacter;
        return true;
    });
    if (!done) return failWith(ERROR_NO_UNICODE_TRANSLATION);
    auto needed = static_cast<int>(result.size());
    if (wideLength == 0) return needed;
    if (wideLength < needed) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::wmemcpy(wide, result.data(), result.size());
    return needed;
}

extern "C" int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR multiByte,
                                   int multiByteLength, LPCSTR defaultChar, BOOL* usedDefaultChar) {
    const char* charset = nimbrel::platform::charsetForCodePage(codePage);
    if (!charset || !wide || wideLength == 0 || wideLength < -1 || multiByteLength < 0 ||
        (!multiByte && multiByteLength != 0) ||
        (multiByte && static_cast<const void*>(wide) == static_cast<const void*>(multiByte))) {
        return failWith(ERROR_INVALID_PARAMETER);
    }
    bool utf8 = codePage == CP_UTF8;
    // UTF-8 has no default character: every character can be written.
    if (utf8 && (defaultChar || usedDefaultChar)) return failWith(ERROR_INVALID_PARAMETER);
    if (utf8 && (flags & ~WC_ERR_INVALID_CHARS) != 0) return failWith(ERROR_INVALID_FLAGS);
    std::size_t count = wideLength == -1 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(wideLength);
    Converter converter(charset, "WCHAR_T");
    if (!converter.ok()) return failWith(ERROR_INVALID_PARAMETER);
    std::string result;
    bool strict = utf8 && (flags & WC_ERR_INVALID_CHARS);
    bool usedDefault = false;
    std::string fallback = utf8 ? "\xEF\xBF\xBD" : (defaultChar ? std::string(defaultChar) : std::string("?"));
    bool done = convert<char>(converter, reinterpret_cast<const char*>(wide), count * sizeof(wchar_t), sizeof(wchar_t),
                              result, [&](std::string& out) {
                                  if (strict) return false;
                                  out += fallback;
                                  usedDefault = true;
                                  return true;
                              });
    if (!done) return failWith(ERROR_NO_UNICODE_TRANSLATION);
    if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    auto needed = static_cast<int>(result.size());
    if (multiByteLength == 0) return needed;
    if (multiByteLength < needed) return failWith(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(multiByte, result.data(), result.size());
    return needed;
}
