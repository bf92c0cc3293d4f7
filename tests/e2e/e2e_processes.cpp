#include "e2e_processes.h"

#include <filesystem>
#include <utility>
#include <vector>

namespace nimbrel::test {

std::string serverExecutable(int mode) { return mode == 0 ? "ZedoziZevoro" : "RoziDavidoVodido"; }

std::string makeAppFolder() {
    namespace fs = std::filesystem;
    const std::string app = makeScratchDir("app");
    for (const auto& entry : fs::directory_iterator(appDir())) {
        if (entry.is_regular_file()) fs::copy_file(entry.path(), fs::path(app) / entry.path().filename());
    }
    return app;
}

ServerWithClient::ServerWithClient(std::string appFolder, int mode) : appFolder_(std::move(appFolder)), mode_(mode) {}

bool ServerWithClient::start() {
    client_ = std::make_unique<ChildProcess>(appFolder_ + "/nimbrel-mainclient",
                                             std::vector<std::string>{"--mode", std::to_string(mode_), "serve"});
    // The client names its process before it prints this line, so the server's check finds it.
    const std::string serving = "serving mode " + std::to_string(mode_) + " on ";
    if (!waitUntil([&] { return client_->out().find(serving) != std::string::npos || !client_->running(); }) ||
        client_->out().find(serving) == std::string::npos) {
        return false;
    }
    server_ = std::make_unique<ChildProcess>(appFolder_ + "/" + serverExecutable(mode_), std::vector<std::string>{});
    return true;
}

std::string ServerWithClient::clientOutput() const {
    return client_ ? client_->out() + client_->err() : std::string("the client was never started");
}

}  // namespace nimbrel::test
