#include "ipc/projection_log_record.h"

#include "platform/windows.h"
#include "suite/logbridge/spdlog_bridge.h"

namespace {

constexpr int kWarn = 3;
constexpr int kCritical = 5;
constexpr ULONGLONG kSummaryIntervalMs = 30000;
constexpr std::size_t kSampleLength = 2048;

std::atomic<std::uint64_t> g_routineRecords{0};
std::atomic<ULONGLONG> g_nextSummaryMs{0};

}  // namespace

ProjectionLogRecord::ProjectionLogRecord(const char* file, std::string name) : file_(file), name_(std::move(name)) {}

void ProjectionLogRecord::add(int line, bool warning, const std::string& text) {
    lines_.push_back({line, warning, text, {}});
    if (warning) raise(Warning);
}

void ProjectionLogRecord::addDeferred(int line, std::function<std::string()> makeText) {
    lines_.push_back({line, false, {}, std::move(makeText)});
}

void ProjectionLogRecord::raise(Severity severity) {
    if (severity > severity_) severity_ = severity;
}

std::string ProjectionLogRecord::text() const {
    const int firstLine = lines_.empty() ? 0 : lines_.front().line;
    std::string text =
        nimbrel::logging::linePrefix(file_, firstLine, name_.c_str()) + "severity:" + std::to_string(severity_);
    for (const Line& line : lines_) {
        text += " || #" + std::to_string(line.line) + (line.warning ? " W " : " ") +
                (line.makeText ? line.makeText() : line.text);
    }
    return text;
}

ProjectionLogRecord::~ProjectionLogRecord() {
    if (severity_ >= Failure) {
        SpdlogBridge::getInstance().stream(kCritical) << text();
    } else if (severity_ == Warning) {
        SpdlogBridge::getInstance().stream(kWarn) << text();
    } else {
        ++g_routineRecords;
        writeSummary();
    }
}

void ProjectionLogRecord::writeSummary() const {
    const ULONGLONG now = GetTickCount64();
    ULONGLONG due = g_nextSummaryMs.load();
    // Only the thread that moves the next allowed time forward writes.
    if (now < due || !g_nextSummaryMs.compare_exchange_strong(due, now + kSummaryIntervalMs)) return;
    const std::uint64_t events = g_routineRecords.exchange(0);
    LOG_INFO << "[mirror-log-summary] events:" << static_cast<unsigned long long>(events)
             << " sample:" << text().substr(0, kSampleLength);
}

std::string changedLocalLine(const std::string& tag, const std::string& path, long long expectedSize,
                             long long actualSize, bool isFile) {
    return ProjectionLine(tag)
        .field("path", path)
        .field("expectedSize", expectedSize)
        .field("actualSize", actualSize)
        .field("isFile", isFile)
        .str();
}
