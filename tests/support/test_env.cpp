#include "support/test_env.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace nimbrel::test {

namespace {

std::string envOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

std::string scratchRoot() {
    // test_main.cpp sets both folders below one scratch folder.
    return std::filesystem::path(platformHome()).parent_path().string();
}

std::vector<std::string> mergedEnvironment(const std::map<std::string, std::string>& extra) {
    std::map<std::string, std::string> merged;
    for (char** entry = environ; *entry; ++entry) {
        std::string text(*entry);
        auto eq = text.find('=');
        if (eq != std::string::npos) merged[text.substr(0, eq)] = text.substr(eq + 1);
    }
    for (const auto& [key, value] : extra) merged[key] = value;
    std::vector<std::string> result;
    for (const auto& [key, value] : merged) result.push_back(key + "=" + value);
    return result;
}

int decodeStatus(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

std::string appDir() { return envOr("NIMBREL_APP_DIR", NIMBREL_APP_DIR_DEFAULT); }
std::string platformHome() { return envOr("NIMBREL_PLATFORM_HOME", ""); }
std::string runtimeDir() { return envOr("NIMBREL_RUNTIME_DIR", ""); }

std::string makeScratchDir(const std::string& name) {
    auto dir = std::filesystem::path(scratchRoot()) / name;
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args)
    : ChildProcess(program, args, Options{}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const Options& options) {
    static int counter = 0;
    auto base = makeScratchDir("children") + "/" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    outPath_ = base + ".out";
    errPath_ = base + ".err";

    int inPipe[2];
    if (pipe(inPipe) != 0) throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, inPipe[1]);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!options.workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.workingDir.c_str());

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto envStrings = mergedEnvironment(options.env);
    std::vector<char*> envp;
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(inPipe[0]);
    if (rc != 0) {
        close(inPipe[1]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
    if (!options.stdinText.empty()) {
        auto written = ::write(inPipe[1], options.stdinText.data(), options.stdinText.size());
        (void)written;
    }
    close(inPipe[1]);
}

ChildProcess::~ChildProcess() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        wait(std::chrono::seconds(10));
    }
}

bool ChildProcess::running() {
    if (status_) return false;
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        status_ = decodeStatus(status);
        return false;
    }
    return r == 0;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    waitUntil([this] { return !running(); }, timeout);
    return status_;
}

void ChildProcess::signal(int sig) {
    if (running()) ::kill(pid_, sig);
}

std::string ChildProcess::out() const { return readFile(outPath_); }
std::string ChildProcess::err() const { return readFile(errPath_); }

CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                         const ChildProcess::Options& options, std::chrono::milliseconds timeout) {
    ChildProcess child(program, args, options);
    CommandResult result;
    auto status = child.wait(timeout);
    if (!status) child.signal(SIGKILL);
    result.exitCode = status.value_or(-1);
    result.out = child.out();
    result.err = child.err();
    return result;
}

}  // namespace nimbrel::test
