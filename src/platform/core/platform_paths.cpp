#include "platform/platform_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace nimbrel::platform {

namespace {

std::string envValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

constexpr int kUnsafeFolderExitCode = 78;

// Other users must not be able to plant locks, sockets or sections here, nor take ours: the
// folder is created 0700, and an existing one that belongs to another user or that others may
// write into ends the process with the reason on standard error.
std::string ensurePrivateDir(const char* variable, const std::string& dir) {
    // Every store, lock and section call asks for its folder, several times per placeholder: each
    // thread checks a folder once instead of creating and inspecting it again on every call.
    thread_local std::set<std::string> verified;
    if (verified.count(dir)) return dir;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(dir).parent_path(), ignored);
    ::mkdir(dir.c_str(), 0700);
    struct stat status {};
    if (::stat(dir.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return dir;  // calls in it fail as usual
    std::string problem;
    if (status.st_uid != ::geteuid()) {
        problem = "it belongs to user " + std::to_string(status.st_uid);
    } else if (status.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
        problem = std::string("other users may write into it (mode ") + mode + ")";
    }
    if (problem.empty()) {
        verified.insert(dir);
        return dir;
    }
    std::fprintf(stderr, "nimbrel: refusing the %s folder %s: %s\n", variable, dir.c_str(), problem.c_str());
    std::fflush(stderr);
    std::_Exit(kUnsafeFolderExitCode);
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr char32_t kReplacement = 0xFFFD;

bool isScalarValue(char32_t cp) { return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF); }

// Decodes one code point starting at text[i]; advances i. Malformed input yields U+FFFD, as
// MultiByteToWideChar does: overlong forms, surrogates and anything beyond U+10FFFF included,
// since such a value has no UTF-16 form and would not come back from storage as it went in.
char32_t decodeUtf8(const std::string& text, std::size_t& i) {
    constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i++);
    if (lead < 0x80) return lead;
    int extra = lead >= 0xF8 ? -1 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (extra < 0 || i + extra > text.size()) return kReplacement;
    char32_t cp = lead & (0x3F >> extra);
    for (int k = 0; k < extra; ++k) {
        unsigned char next = byte(i);
        if ((next & 0xC0) != 0x80) return kReplacement;
        cp = (cp << 6) | (next & 0x3F);
        ++i;
    }
    return cp >= kSmallest[extra] && isScalarValue(cp) ? cp : kReplacement;
}

}  // namespace

const std::string& platformHome() {
    struct Source {
        const char* variable;
        const char* below;
    };
    // The first that is set and not empty (HOME in any case) names the folder.
    static constexpr Source kSources[] = {
        {"NIMBREL_PLATFORM_HOME", ""}, {"XDG_STATE_HOME", "/nimbrel"}, {"HOME", "/.local/state/nimbrel"}};
    const Source* source = kSources;
    const char* value = nullptr;
    for (const Source& candidate : kSources) {
        source = &candidate;
        value = std::getenv(candidate.variable);
        if (value && *value) break;
    }
    if (!value) value = "";
    struct Worked {
        const Source* source = nullptr;
        std::string value;
        std::string home;
    };
    thread_local Worked worked;
    if (worked.source != source || worked.value != value) {
        worked = Worked{source, value, ensurePrivateDir(kSources[0].variable, value + std::string(source->below))};
    }
    return worked.home;
}

std::string runtimeDir() {
    constexpr char kVariable[] = "NIMBREL_RUNTIME_DIR";
    auto explicitDir = envValue(kVariable);
    if (!explicitDir.empty()) return ensurePrivateDir(kVariable, explicitDir);
    auto xdg = envValue("XDG_RUNTIME_DIR");
    if (!xdg.empty()) return ensurePrivateDir(kVariable, xdg + "/nimbrel");
    return ensurePrivateDir(kVariable, "/tmp/nimbrel-" + std::to_string(geteuid()));
}

std::string userTempDir() {
    const std::string dir = ensurePrivateDir("NIMBREL_RUNTIME_DIR", runtimeDir() + "/temp");
    struct stat status {};
    if (::stat(dir.c_str(), &status) == 0 && (status.st_mode & 077) != 0) ::chmod(dir.c_str(), 0700);
    return dir;
}

void createPrivateFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) ::close(fd);
}

std::string toHostPath(const std::wstring& windowsPath) { return toHostPath(toUtf8(windowsPath)); }

std::string toHostPath(const std::string& windowsPathUtf8) {
    std::string path = windowsPathUtf8;
    for (const char* prefix : {"\\\\?\\", "//?/", "\\??\\"}) {
        if (path.rfind(prefix, 0) == 0) {
            path.erase(0, 3);  // keep the separator that follows, which becomes the root "/"
            break;
        }
    }
    for (auto& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

std::wstring toWindowsPath(const std::string& hostPath) {
    auto wide = fromUtf8(hostPath);
    for (auto& c : wide) {
        if (c == L'/') c = L'\\';
    }
    return wide;
}

std::string toUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) appendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::string toUtf8(const std::u16string& text) { return toUtf8(fromUtf16(text)); }

std::wstring fromUtf8(const std::string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) out += static_cast<wchar_t>(decodeUtf8(text, i));
    return out;
}

std::u16string toUtf16(const std::wstring& text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto cp = static_cast<char32_t>(wc);
        if (cp > 0x10FFFF) cp = kReplacement;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::wstring fromUtf16(const std::u16string& text) {
    std::wstring out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        out += static_cast<wchar_t>(cp);
    }
    return out;
}

std::string objectFileName(const std::wstring& objectName) {
    std::string name = toUtf8(objectName);
    for (auto& c : name) {
        if (c == '/' || c == '\\') c = '_';
    }
    return name.empty() ? std::string("_") : name;
}

}  // namespace nimbrel::platform
