#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cf_application.h"
#include "commands.h"
#include "platform/platform_paths.h"
#include "platform/windows.h"

namespace nimbrel::tools::cf {

namespace {

std::string errorText(HRESULT hr) {
    wchar_t buffer[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(hr), 0, buffer, 512, nullptr);
    std::string text = n ? nimbrel::platform::toUtf8(std::wstring(buffer, n)) : std::string();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08x", static_cast<unsigned>(hr));
    return text.empty() ? code : std::string(code) + " " + text;
}

// A bar on the terminal only: scripts reading stderr get the error text alone.
void drawProgress(std::int64_t total, std::int64_t completed) {
    constexpr int kWidth = 40;
    const int filled = total > 0 ? static_cast<int>(completed * kWidth / total) : 0;
    std::fprintf(stderr, "\r[%.*s%*s] %3d%%", filled, "########################################", kWidth - filled, "",
                 total > 0 ? static_cast<int>(completed * 100 / total) : 0);
    std::fflush(stderr);
}

bool copyContent(const std::string& path, const std::string& outPath, std::int64_t& bytes) {
    int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int out = outPath.empty() ? -1 : ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = outPath.empty() || out >= 0;
    std::vector<char> buffer(1 << 20);
    while (ok) {
        ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes += n;
        if (out >= 0 && ::write(out, buffer.data(), static_cast<std::size_t>(n)) != n) ok = false;
    }
    ::close(in);
    if (out >= 0) ::close(out);
    return ok;
}

}  // namespace

int openCommand(const std::string& path, bool read, const std::string& outPath) {
    const std::string hostPath = nimbrel::platform::toHostPath(path);
    const bool terminal = ::isatty(STDERR_FILENO);
    nimbrel::platform::cf::ProgressSink progress;
    if (terminal) progress = drawProgress;
    const HRESULT hr = nimbrel::platform::cf::openAsApplication(hostPath, read, progress);
    if (terminal && read) std::fprintf(stderr, "\n");
    if (FAILED(hr)) {
        std::fprintf(stderr, "nimbrel-cf: %s: %s\n", path.c_str(), errorText(hr).c_str());
        return 1;
    }
    if (!read) {
        std::printf("opened %s\n", path.c_str());
        return 0;
    }
    std::int64_t bytes = 0;
    if (!copyContent(hostPath, outPath, bytes)) {
        std::fprintf(stderr, "nimbrel-cf: %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    std::printf("read %lld bytes from %s\n", static_cast<long long>(bytes), path.c_str());
    return 0;
}

}  // namespace nimbrel::tools::cf
