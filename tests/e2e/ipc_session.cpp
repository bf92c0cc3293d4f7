#include "ipc_session.h"

#include <filesystem>
#include <sstream>

namespace nimbrel::test {

namespace fs = std::filesystem;

IpcSession::IpcSession(int mode) : mode_(mode) {
    // A folder with nothing but the built files, as an installation would have.
    app_ = makeScratchDir("app");
    for (const auto& entry : fs::directory_iterator(appDir())) {
        if (entry.is_regular_file()) fs::copy_file(entry.path(), fs::path(app_) / entry.path().filename());
    }
}

std::string IpcSession::tool() const { return app_ + "/nimbrel-mainclient"; }

std::string IpcSession::serverName() const { return mode_ == 0 ? "ZedoziZevoro" : "RoziDavidoVodido"; }

void IpcSession::startClient(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"--mode", std::to_string(mode_), "serve"};
    args.insert(args.end(), options.begin(), options.end());
    client_ = std::make_unique<ChildProcess>(tool(), args);
}

void IpcSession::startServer() {
    server_ = std::make_unique<ChildProcess>(app_ + "/" + serverName(), std::vector<std::string>{});
}

CommandResult IpcSession::send(const std::string& command, const std::string& body) {
    return runCommand(tool(), {"--mode", std::to_string(mode_), "send", command, body});
}

CommandResult IpcSession::send(const std::string& command) {
    return runCommand(tool(), {"--mode", std::to_string(mode_), "send", command});
}

std::string IpcSession::serverLog() const {
    // The logging bridge keeps an alias of each server's log named after its process id.
    return readFile(app_ + "/log/" + serverName() + "/" + serverName() + "-" + std::to_string(server_->pid()) + ".log");
}

std::vector<std::string> IpcSession::clientLines(const std::string& prefix) const {
    std::vector<std::string> lines;
    std::istringstream text(client_->out());
    for (std::string line; std::getline(text, line);) {
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
}

}  // namespace nimbrel::test
