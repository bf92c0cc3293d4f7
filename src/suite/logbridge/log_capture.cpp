#include "suite/logbridge/log_capture.h"

#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/dist_sink.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <mutex>

#include "suite/logbridge/spdlog_bridge.h"

struct LogCapture::Sink : spdlog::sinks::base_sink<std::mutex> {
    std::vector<Line> captured;

    std::vector<Line> snapshot() {
        std::lock_guard lock(mutex_);
        return captured;
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        captured.push_back({static_cast<int>(msg.level), std::string(msg.payload.data(), msg.payload.size())});
    }
    void flush_() override {}
};

LogCapture::LogCapture() : sink_(std::make_shared<Sink>()) {
    SpdlogBridge::getInstance().addSink(sink_);
}

LogCapture::~LogCapture() { SpdlogBridge::getInstance().removeSink(sink_); }

std::vector<LogCapture::Line> LogCapture::lines() const { return sink_->snapshot(); }

bool LogCapture::contains(const std::string& fragment) const { return count(fragment) > 0; }

int LogCapture::count(const std::string& fragment) const {
    auto all = lines();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const Line& line) {
        return line.text.find(fragment) != std::string::npos;
    }));
}
