#pragma once
// The suite's logging bridge: one process-wide rotating log behind a stream interface.
//
//   LOG_INFO << "mount path:" << path;     // "[file.cpp:42] Class::function mount path:..."
//
// Levels use spdlog's numbering: trace 0, debug 1, info 2, warn 3, err 4, critical 5.

#include <QString>
#include <memory>
#include <string>

namespace spdlog {
class logger;
namespace sinks {
class sink;
}
}  // namespace spdlog

class SpdlogStream {
public:
    SpdlogStream(int level, std::shared_ptr<spdlog::logger> logger);
    SpdlogStream(SpdlogStream&& other) noexcept;
    SpdlogStream(const SpdlogStream&) = delete;
    SpdlogStream& operator=(const SpdlogStream&) = delete;
    ~SpdlogStream();  // writes the line

    SpdlogStream& operator<<(const char* text);
    SpdlogStream& operator<<(const std::string& text);
    SpdlogStream& operator<<(const wchar_t* text);
    SpdlogStream& operator<<(const std::wstring& text);
    SpdlogStream& operator<<(const QString& text);
    SpdlogStream& operator<<(const QByteArray& text);
    SpdlogStream& operator<<(char c);
    SpdlogStream& operator<<(bool value);
    SpdlogStream& operator<<(int value);
    SpdlogStream& operator<<(unsigned int value);
    SpdlogStream& operator<<(long value);
    SpdlogStream& operator<<(unsigned long value);
    SpdlogStream& operator<<(long long value);
    SpdlogStream& operator<<(unsigned long long value);
    SpdlogStream& operator<<(double value);
    SpdlogStream& operator<<(const void* pointer);

private:
    int level_;
    std::shared_ptr<spdlog::logger> logger_;
    std::string text_;
};

class SpdlogBridge {
public:
    static SpdlogBridge& getInstance();

    // Opens the rotating log "<logDir>/<baseName>.log" (rotated copies "<baseName>.N.log"), and
    // an alias "<name>-<pid>.log" beside it, where name is the base name up to its last "-", so
    // that this process's log can be found by process id. Returns false when the folder or file
    // cannot be created; logging then goes on to the capture sinks only.
    bool initialize(const std::string& logDir, const std::string& baseName, std::size_t maxFileSize,
                    std::size_t maxFiles, const std::string& pattern, int level, bool flushEveryLine);

    SpdlogStream stream(int level);
    void flush();

private:
    SpdlogBridge();
    void addSink(std::shared_ptr<spdlog::sinks::sink> sink);
    void removeSink(const std::shared_ptr<spdlog::sinks::sink>& sink);
    struct Impl;
    std::unique_ptr<Impl> impl_;
    friend class LogCapture;
};

// While one lives on a thread, the lines that thread logs below warning level are not flushed one
// by one: a handler that logs a line per item of a batch writes them together. They are flushed when
// the last one on the thread ends (a warning or worse is flushed at once, with what came before).
class DeferredLogFlush {
public:
    DeferredLogFlush();
    ~DeferredLogFlush();
    DeferredLogFlush(const DeferredLogFlush&) = delete;
    DeferredLogFlush& operator=(const DeferredLogFlush&) = delete;
};

namespace nimbrel::logging {
// "[" file name ":" line "] " + the qualified function name taken from __PRETTY_FUNCTION__.
std::string linePrefix(const char* file, int line, const char* prettyFunction);
}  // namespace nimbrel::logging

#define NIMBREL_LOG_AT(level, line) \
    SpdlogBridge::getInstance().stream(level) << ::nimbrel::logging::linePrefix(__FILE__, line, __PRETTY_FUNCTION__)
#define NIMBREL_LOG(level) NIMBREL_LOG_AT(level, __LINE__)
#define LOG_DEBUG NIMBREL_LOG(1)
#define LOG_INFO NIMBREL_LOG(2)
#define LOG_WARN NIMBREL_LOG(3)
#define LOG_ERROR NIMBREL_LOG(4)
#define LOG_CRITICAL NIMBREL_LOG(5)
