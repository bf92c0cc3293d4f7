#include "ipc_session.h"

#include <sstream>
#include <utility>

namespace nimbrel::test {

IpcSession::IpcSession(int mode, std::string app) : mode_(mode), app_(std::move(app)) {}

std::string IpcSession::tool() const { return app_ + "/nimbrel-mainclient"; }

std::string IpcSession::serverName() const { return serverExecutable(mode_); }

void IpcSession::startClient(const std::vector<std::string>& options) {
    std::vector<std::string> args = {"--mode", std::to_string(mode_), "serve"};
    args.insert(args.end(), options.begin(), options.end());
    client_ = std::make_unique<ChildProcess>(tool(), args);
}

void IpcSession::startServer(const std::string& faults) {
    ChildProcess::Options options;
    if (!faults.empty()) options.env["NIMBREL_FAULTS"] = faults;
    server_ = std::make_unique<ChildProcess>(app_ + "/" + serverName(), std::vector<std::string>{}, options);
}

bool IpcSession::startAnnounced(const std::string& faults) {
    startClient();
    startServer(faults);
    // A sanitized server starting beside other test runs may take a while to load.
    return waitUntil([&] { return clientLines("answered pushOnline").size() == 1; }, std::chrono::minutes(1));
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
