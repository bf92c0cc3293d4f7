// The crash reporter: fatal signals write a report folder. Everything the handler needs is prepared
// when the reporter is installed or a file or property is added, as one immutable record that the
// handler reads through an atomic pointer; the handler itself only uses system calls that are safe
// in a signal handler and fixed buffers.
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/crashrpt.h"
#include "platform/platform_paths.h"

namespace {

namespace p = nimbrel::platform;

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr std::size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

struct Attachment {
    std::string source;  // host path
    std::string name;    // file name inside the report
    std::string description;
};

// What a crash writes; never changed once published.
struct Report {
    std::string appName;
    std::string saveDir;
    std::string outbox;  // empty when reports are kept locally only
    std::string email;
    std::string properties;
    std::string screenshot;  // empty when no screenshot was requested
    std::vector<Attachment> files;
    long utcOffsetSeconds = 0;  // local time of the crash without calling localtime in the handler
};

struct Installation {
    std::string appName;
    std::string appVersion;
    std::string emailTo;
    std::string emailSubject;
    std::string emailText;
    std::string saveDir;
    std::string outbox;
    DWORD flags = 0;
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<Attachment> files;
    std::string screenshot;
};

std::mutex stateMutex;
std::unique_ptr<Installation> installation;             // under stateMutex
std::vector<std::unique_ptr<Report>> publishedReports;  // kept alive until uninstall
std::atomic<const Report*> currentReport{nullptr};
struct sigaction previousActions[kSignalCount];
std::atomic<bool> crashing{false};
std::wstring lastErrorMessage = L"Success.";  // under stateMutex
stack_t alternateStack{};

int fail(const std::wstring& message) {
    lastErrorMessage = message;
    return 1;
}

std::string narrow(LPCWSTR text) { return text ? p::toUtf8(std::wstring(text)) : std::string(); }

// Rebuilds the record the handler reads from the installation.
void publish() {
    auto report = std::make_unique<Report>();
    report->appName = installation->appName;
    report->saveDir = installation->saveDir;
    report->outbox = installation->outbox;
    report->email = "To: " + installation->emailTo + "\r\nSubject: " + installation->emailSubject +
                    "\r\nApplication: " + installation->appName + " " + installation->appVersion + "\r\n\r\n" +
                    installation->emailText + "\r\n";
    for (const auto& [name, value] : installation->properties) report->properties += name + "=" + value + "\n";
    report->screenshot = installation->screenshot;
    report->files = installation->files;
    time_t now = ::time(nullptr);
    struct tm local {};
    ::localtime_r(&now, &local);
    report->utcOffsetSeconds = local.tm_gmtoff;
    currentReport.store(report.get());
    publishedReports.push_back(std::move(report));
}

// A bounded text buffer for the handler: no allocation.
struct Text {
    char data[4096];
    std::size_t length = 0;

    Text& add(const char* text) {
        while (*text && length + 1 < sizeof data) data[length++] = *text++;
        data[length] = '\0';
        return *this;
    }
    Text& add(const std::string& text) { return add(text.c_str()); }
    Text& number(unsigned long long value, int width = 0) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (count < width) digits[count++] = '0';
        while (count > 0 && length + 1 < sizeof data) data[length++] = digits[--count];
        data[length] = '\0';
        return *this;
    }
    Text& hex(unsigned long long value) {
        add("0x");
        char digits[20];
        int count = 0;
        do {
            digits[count++] = "0123456789abcdef"[value % 16];
            value /= 16;
        } while (value > 0);
        while (count > 0 && length + 1 < sizeof data) data[length++] = digits[--count];
        data[length] = '\0';
        return *this;
    }
};

void writeAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
}

int createIn(const Text& folder, const char* name) {
    Text path;
    path.add(folder.data).add("/").add(name);
    return ::open(path.data, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void writeFileIn(const Text& folder, const char* name, const char* data, std::size_t length) {
    int fd = createIn(folder, name);
    if (fd < 0) return;
    writeAll(fd, data, length);
    ::close(fd);
}

bool copyInto(const Text& folder, const Attachment& file) {
    int in = ::open(file.source.c_str(), O_RDONLY | O_CLOEXEC);  // follows symbolic links
    if (in < 0) return false;
    int out = createIn(folder, file.name.c_str());
    if (out >= 0) {
        static char buffer[65536];
        for (;;) {
            ssize_t n = ::read(in, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            writeAll(out, buffer, static_cast<std::size_t>(n));
        }
        ::close(out);
    }
    ::close(in);
    return out >= 0;
}

// yyyyMMdd_hhmmss of a Unix time (days-to-civil conversion, valid for the Gregorian calendar).
void appendTimestamp(Text& text, long long seconds) {
    long long days = seconds / 86400;
    long long rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    long long era = (days >= 0 ? days : days - 146096) / 146097;
    long long dayOfEra = days - era * 146097;
    long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    long long mp = (5 * dayOfYear + 2) / 153;
    long long day = dayOfYear - (153 * mp + 2) / 5 + 1;
    long long month = mp < 10 ? mp + 3 : mp - 9;
    long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    text.number(static_cast<unsigned long long>(year), 4).number(static_cast<unsigned long long>(month), 2);
    text.number(static_cast<unsigned long long>(day), 2).add("_");
    text.number(static_cast<unsigned long long>(rest / 3600), 2)
        .number(static_cast<unsigned long long>(rest / 60 % 60), 2);
    text.number(static_cast<unsigned long long>(rest % 60), 2);
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        default:
            return "SIGABRT";
    }
}

void writeReport(const Report& report, const Text& folder, int signal, const siginfo_t* info, void** frames,
                 int frameCount) {
    if (::mkdir(folder.data, 0755) != 0 && errno != EEXIST) return;
    writeFileIn(folder, "email.txt", report.email.data(), report.email.size());
    writeFileIn(folder, "properties.txt", report.properties.data(), report.properties.size());
    if (!report.screenshot.empty()) {
        writeFileIn(folder, "screenshot.txt", report.screenshot.data(), report.screenshot.size());
    }
    Text listing;
    for (const auto& file : report.files) {
        bool copied = copyInto(folder, file);
        listing.add(copied ? "" : "missing: ").add(file.name).add(" (").add(file.description).add(") <- ");
        listing.add(file.source).add("\n");
    }
    writeFileIn(folder, "files.txt", listing.data, listing.length);

    Text header;
    header.add("signal ").number(static_cast<unsigned>(signal)).add(" (").add(signalName(signal)).add(")");
    if (info) header.add(", code ").number(static_cast<unsigned>(info->si_code)).add(", address ");
    if (info) header.hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
    header.add("\nprocess ").number(static_cast<unsigned long long>(::getpid())).add("\n\n");
    int fd = createIn(folder, "backtrace.txt");
    if (fd >= 0) {
        writeAll(fd, header.data, header.length);
        ::backtrace_symbols_fd(frames, frameCount, fd);
        ::close(fd);
    }
}

void onFatalSignal(int signal, siginfo_t* info, void*) {
    const Report* report = currentReport.load();
    if (report && !crashing.exchange(true)) {
        void* frames[64];
        int frameCount = ::backtrace(frames, 64);
        Text name;
        name.add(report->appName).add("_");
        appendTimestamp(name, static_cast<long long>(::time(nullptr)) + report->utcOffsetSeconds);
        name.add("_").number(static_cast<unsigned long long>(::getpid()));
        Text folder;
        folder.add(report->saveDir).add("/").add(name.data);
        writeReport(*report, folder, signal, info, frames, frameCount);
        if (!report->outbox.empty()) {
            Text outbox;
            outbox.add(report->outbox).add("/").add(name.data);
            writeReport(*report, outbox, signal, info, frames, frameCount);
        }
    } else if (report) {
        // Another thread is writing the report and will end the process.
        for (;;) ::pause();
    }
    // The default action ends the process by this signal: a fault re-raises on return, a sent
    // signal is raised again here.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigemptyset(&fallback.sa_mask);
    ::sigaction(signal, &fallback, nullptr);
    ::raise(signal);
}

void installHandlers() {
    // Room for the handler when the crash is a stack overflow.
    if (!alternateStack.ss_sp) {
        alternateStack.ss_size = 1 << 16;
        alternateStack.ss_sp = ::operator new(alternateStack.ss_size);
        alternateStack.ss_flags = 0;
        ::sigaltstack(&alternateStack, nullptr);
    }
    void* warmUp[1];
    ::backtrace(warmUp, 1);  // loads the unwinder now, not inside the handler
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    ::sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &action, &previousActions[i]);
}

void restoreHandlers() {
    for (std::size_t i = 0; i < kSignalCount; ++i) ::sigaction(kSignals[i], &previousActions[i], nullptr);
}

}  // namespace

extern "C" int crInstallW(PCR_INSTALL_INFOW info) {
    std::lock_guard lock(stateMutex);
    if (installation) return fail(L"The crash handler is already installed.");
    if (!info) return fail(L"The installation record is missing.");
    if (info->cb != sizeof(CR_INSTALL_INFOW)) return fail(L"The installation record has a wrong size (cb).");
    if (!info->pszAppName || !*info->pszAppName) return fail(L"The application name is missing.");

    auto made = std::make_unique<Installation>();
    made->appName = p::objectFileName(info->pszAppName);
    made->appVersion = narrow(info->pszAppVersion);
    made->emailTo = narrow(info->pszEmailTo);
    made->emailSubject = narrow(info->pszEmailSubject);
    made->emailText = narrow(info->pszEmailText);
    made->flags = info->dwFlags;
    made->saveDir = info->pszErrorReportSaveDir && *info->pszErrorReportSaveDir
                        ? p::toHostPath(std::wstring(info->pszErrorReportSaveDir))
                        : p::platformHome() + "/crash-reports/" + made->appName + "_" + made->appVersion;
    std::error_code error;
    std::filesystem::create_directories(made->saveDir, error);
    if (!std::filesystem::is_directory(made->saveDir)) {
        return fail(L"The error report folder cannot be created: " + p::fromUtf8(made->saveDir));
    }
    if (!(made->flags & CR_INST_DONT_SEND_REPORT)) {
        made->outbox = p::platformHome() + "/crash-outbox";
        ::mkdir(made->outbox.c_str(), 0700);  // reports carry logs and settings: this user's only
        if (!std::filesystem::is_directory(made->outbox)) {
            return fail(L"The crash report outbox cannot be created: " + p::fromUtf8(made->outbox));
        }
    }
    installation = std::move(made);
    publish();
    installHandlers();
    lastErrorMessage = L"Success.";
    return 0;
}

extern "C" int crUninstall() {
    std::lock_guard lock(stateMutex);
    if (!installation) return fail(L"The crash handler is not installed.");
    restoreHandlers();
    currentReport.store(nullptr);
    publishedReports.clear();
    installation.reset();
    lastErrorMessage = L"Success.";
    return 0;
}

extern "C" int crGetLastErrorMsgW(LPWSTR buffer, UINT bufferSize) {
    if (!buffer || bufferSize == 0) return -1;
    std::lock_guard lock(stateMutex);
    std::size_t count = std::min<std::size_t>(lastErrorMessage.size(), bufferSize - 1);
    std::wmemcpy(buffer, lastErrorMessage.c_str(), count);
    buffer[count] = L'\0';
    return static_cast<int>(count);
}

extern "C" int crAddScreenshot2(DWORD flags, int jpegQuality) {
    std::lock_guard lock(stateMutex);
    if (!installation) return fail(L"The crash handler is not installed.");
    if (jpegQuality < 0 || jpegQuality > 100) return fail(L"The JPEG quality must be between 0 and 100.");
    installation->screenshot =
        "A screenshot was requested (flags " + std::to_string(flags) + ", " +
        ((flags & CR_AS_USE_JPEG_FORMAT) ? "JPEG quality " + std::to_string(jpegQuality) : std::string("PNG")) +
        "), but there is no display to take it from.\n";
    publish();
    return 0;
}

extern "C" int crAddFile2W(LPCWSTR file, LPCWSTR destFile, LPCWSTR description, DWORD flags) {
    std::lock_guard lock(stateMutex);
    if (!installation) return fail(L"The crash handler is not installed.");
    if (!file || !*file) return fail(L"The file name is missing.");
    Attachment attachment;
    attachment.source = p::toHostPath(std::wstring(file));
    if (!(flags & CR_AF_MISSING_FILE_OK) && !std::filesystem::exists(attachment.source)) {
        return fail(L"The file does not exist: " + std::wstring(file));
    }
    std::string name = destFile && *destFile ? narrow(destFile) : attachment.source;
    auto slash = name.find_last_of("/\\");
    attachment.name = slash == std::string::npos ? name : name.substr(slash + 1);
    attachment.description = narrow(description);
    installation->files.push_back(std::move(attachment));
    publish();
    return 0;
}

extern "C" int crAddPropertyW(LPCWSTR name, LPCWSTR value) {
    std::lock_guard lock(stateMutex);
    if (!installation) return fail(L"The crash handler is not installed.");
    if (!name || !*name) return fail(L"The property name is missing.");
    installation->properties.emplace_back(narrow(name), narrow(value));
    publish();
    return 0;
}
