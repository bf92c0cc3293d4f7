#include "platform/diagnostics.h"

#include <cstdio>
#include <mutex>

namespace nimbrel::platform {

namespace {
std::mutex g_sinkMutex;
// Threads that still run while the process exits may report, so the sink is never destroyed.
std::function<void(const std::string&)>& g_sink = *new std::function<void(const std::string&)>();
}  // namespace

void setDiagnosticSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    g_sink = std::move(sink);
}

void reportDiagnostic(const std::string& message) {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    if (g_sink) {
        g_sink(message);
    } else {
        std::fprintf(stderr, "nimbrel platform: %s\n", message.c_str());
    }
}

}  // namespace nimbrel::platform
