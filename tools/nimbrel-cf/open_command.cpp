#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
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

// Progress as the provider reports it: a bar redrawn in place on a terminal, otherwise a plain
// line at every tenth of the file, so that logs and scripts get a few lines, not a hundred.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool terminal) : terminal_(terminal), started_(std::chrono::steady_clock::now()) {}

    void operator()(std::int64_t total, std::int64_t completed) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        const double rate = seconds > 0 ? static_cast<double>(completed) / seconds / kMiB : 0.0;
        const int percent = total > 0 ? static_cast<int>(completed * 100 / total) : 100;
        if (terminal_) {
            constexpr int kWidth = 30;
            const int filled = percent * kWidth / 100;
            std::fprintf(stderr, "\r[%.*s%*s] %3d%% %.1f/%.1f MiB %.1f MiB/s", filled, "##############################",
                         kWidth - filled, "", percent, completed / kMiB, total / kMiB, rate);
        } else if (percent / 10 > lastTenth_) {
            lastTenth_ = percent / 10;
            std::fprintf(stderr, "progress %lld/%lld bytes %d%% %.1f MiB/s\n", static_cast<long long>(completed),
                         static_cast<long long>(total), percent, rate);
        }
        std::fflush(stderr);
    }

private:
    static constexpr double kMiB = 1024.0 * 1024.0;
    bool terminal_;
    std::chrono::steady_clock::time_point started_;
    int lastTenth_ = 0;
};

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

int openCommand(const std::string& path, bool read, const std::string& outPath, bool quiet) {
    const std::string hostPath = nimbrel::platform::toHostPath(path);
    const bool terminal = ::isatty(STDERR_FILENO);
    nimbrel::platform::cf::ProgressSink progress;
    std::atomic<bool> reported{false};
    if (!quiet) {
        progress = [printer = std::make_shared<ProgressPrinter>(terminal), &reported](std::int64_t total,
                                                                                      std::int64_t completed) {
            reported = true;
            (*printer)(total, completed);
        };
    }
    const HRESULT hr = nimbrel::platform::cf::openAsApplication(hostPath, read, progress);
    if (terminal && reported) std::fprintf(stderr, "\n");
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
