#include "suite/logbridge/spdlog_bridge.h"

#include <spdlog/sinks/dist_sink.h>
#include <spdlog/sinks/rotating_file_sink.h>
#include <spdlog/spdlog.h>

#include <QByteArray>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <sstream>

#include "platform/diagnostics.h"
#include "platform/win_process.h"

namespace {

// Whether every line is flushed as it is written (the log's flag), and how many DeferredLogFlush
// scopes hold that back on this thread.
std::atomic<bool> flushEachLine{false};
thread_local int deferredFlushes = 0;
// The log file's stdio buffer: the one file the sink has open at a time uses it (a rotation closes
// the old file before it opens the new one), for as long as the process runs.
char logFileBuffer[64 * 1024];

}  // namespace

struct SpdlogBridge::Impl {
    std::shared_ptr<spdlog::sinks::dist_sink_mt> sinks = std::make_shared<spdlog::sinks::dist_sink_mt>();
    std::shared_ptr<spdlog::logger> logger = std::make_shared<spdlog::logger>("nimbrel", sinks);
    std::once_flag initialized;
};

SpdlogBridge::SpdlogBridge() : impl_(std::make_unique<Impl>()) {
    impl_->logger->set_level(spdlog::level::info);
    impl_->logger->flush_on(spdlog::level::warn);
    // What the stand-ins cannot tell their caller lands in the caller's log.
    nimbrel::platform::setDiagnosticSink(
        [logger = impl_->logger](const std::string& message) { SpdlogStream(3, logger) << "[platform] " << message; });
}

SpdlogBridge& SpdlogBridge::getInstance() {
    // Never destroyed: threads that outlive main() may still log.
    static auto* instance = new SpdlogBridge;
    return *instance;
}

bool SpdlogBridge::initialize(const std::string& logDir, const std::string& baseName, std::size_t maxFileSize,
                              std::size_t maxFiles, const std::string& pattern, int level, bool flushEveryLine) {
    bool opened = false;
    std::call_once(impl_->initialized, [&] {
        namespace fs = std::filesystem;
        std::error_code error;
        fs::create_directories(fs::path(logDir), error);
        auto file = (fs::path(logDir) / (baseName + ".log")).lexically_normal();
        try {
            // Lines held back by a batch (see DeferredLogFlush) go to the file in large writes; a
            // flush still writes everything at once.
            spdlog::file_event_handlers handlers;
            handlers.after_open = [](const spdlog::filename_t&, std::FILE* stream) {
                std::setvbuf(stream, logFileBuffer, _IOFBF, sizeof(logFileBuffer));
            };
            auto rotating = std::make_shared<spdlog::sinks::rotating_file_sink_mt>(file.string(), maxFileSize, maxFiles,
                                                                                   false, handlers);
            rotating->set_pattern(pattern);
            impl_->sinks->add_sink(rotating);
            opened = true;
        } catch (const spdlog::spdlog_ex&) {
            return;
        }
        impl_->logger->set_level(static_cast<spdlog::level::level_enum>(level));
        flushEachLine = flushEveryLine;

        auto dash = baseName.rfind('-');
        auto alias =
            fs::path(logDir) / (baseName.substr(0, dash) + "-" + std::to_string(GetCurrentProcessId()) + ".log");
        fs::remove(alias, error);
        fs::create_symlink(file.filename(), alias, error);
    });
    return opened;
}

SpdlogStream SpdlogBridge::stream(int level) { return SpdlogStream(level, impl_->logger); }

void SpdlogBridge::flush() { impl_->logger->flush(); }

void SpdlogBridge::addSink(std::shared_ptr<spdlog::sinks::sink> sink) { impl_->sinks->add_sink(std::move(sink)); }

void SpdlogBridge::removeSink(const std::shared_ptr<spdlog::sinks::sink>& sink) { impl_->sinks->remove_sink(sink); }

SpdlogStream::SpdlogStream(int level, std::shared_ptr<spdlog::logger> logger)
    : level_(level), logger_(std::move(logger)) {}

SpdlogStream::SpdlogStream(SpdlogStream&& other) noexcept
    : level_(other.level_), logger_(std::move(other.logger_)), text_(std::move(other.text_)) {}

SpdlogStream::~SpdlogStream() {
    if (!logger_) return;
    const auto level = static_cast<spdlog::level::level_enum>(level_);
    logger_->log(level, "{}", text_);
    // Warnings and worse are flushed by the logger itself.
    if (flushEachLine && deferredFlushes == 0 && level < spdlog::level::warn && logger_->should_log(level)) {
        logger_->flush();
    }
}

DeferredLogFlush::DeferredLogFlush() { ++deferredFlushes; }

DeferredLogFlush::~DeferredLogFlush() {
    if (--deferredFlushes == 0 && flushEachLine) SpdlogBridge::getInstance().flush();
}

SpdlogStream& SpdlogStream::operator<<(const char* text) {
    if (text) text_ += text;
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(const std::string& text) {
    text_ += text;
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(const wchar_t* text) {
    return text ? *this << QString::fromWCharArray(text) : *this;
}
SpdlogStream& SpdlogStream::operator<<(const std::wstring& text) { return *this << QString::fromStdWString(text); }
SpdlogStream& SpdlogStream::operator<<(const QString& text) { return *this << text.toUtf8(); }
SpdlogStream& SpdlogStream::operator<<(const QByteArray& text) {
    text_.append(text.constData(), static_cast<std::size_t>(text.size()));
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(char c) {
    text_ += c;
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(bool value) {
    text_ += value ? "true" : "false";
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(int value) {
    text_ += std::to_string(value);
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(unsigned int value) {
    text_ += std::to_string(value);
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(long value) {
    text_ += std::to_string(value);
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(unsigned long value) {
    text_ += std::to_string(value);
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(long long value) {
    text_ += std::to_string(value);
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(unsigned long long value) {
    text_ += std::to_string(value);
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(double value) {
    std::ostringstream formatted;  // the stream's own way, six significant digits
    formatted << value;
    text_ += formatted.str();
    return *this;
}
SpdlogStream& SpdlogStream::operator<<(const void* pointer) {
    std::ostringstream formatted;
    formatted << pointer;
    text_ += formatted.str();
    return *this;
}

namespace nimbrel::logging {

namespace {

// "static HRESULT CfApiWrapper::convertToPlaceholder(const QString&, ...)" -> "CfApiWrapper::convertToPlaceholder"
std::string qualifiedName(const char* prettyFunction) {
    std::string text(prettyFunction);
    auto paren = text.find('(');
    if (paren != std::string::npos) text.resize(paren);
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '<') ++depth;
        if (c == '>') --depth;
        if (c == ' ' && depth == 0) start = i + 1;
    }
    text.erase(0, start);
    const std::string anonymous = "{anonymous}::";
    for (auto pos = text.find(anonymous); pos != std::string::npos; pos = text.find(anonymous)) {
        text.erase(pos, anonymous.size());
    }
    return text;
}

}  // namespace

std::string linePrefix(const char* file, int line, const char* prettyFunction) {
    const char* slash = std::strrchr(file, '/');
    std::string name = slash ? slash + 1 : file;
    return "[" + name + ":" + std::to_string(line) + "] " + qualifiedName(prettyFunction) + " ";
}

}  // namespace nimbrel::logging
