#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace nimbrel::test {

// The folder with the built executables and shared libraries (build/bin).
std::string appDir();

// The fresh per-test folders that test_main.cpp puts into the environment.
std::string platformHome();
std::string runtimeDir();

// A fresh folder below the test's scratch space; removed with the scratch space after the test.
std::string makeScratchDir(const std::string& name);

// For a process-wide object that listens in the runtime folder from its first start until the
// process ends: every later test of the process runs in the current NIMBREL_RUNTIME_DIR, so that
// its peers still reach that object. Platform home and scratch space stay fresh for each test.
void keepRuntimeDirForProcess();

inline bool contains(const std::string& text, const std::string& fragment) {
    return text.find(fragment) != std::string::npos;
}
// How often `fragment` occurs in `text`, overlapping occurrences included.
inline int occurrences(const std::string& text, const std::string& fragment) {
    int count = 0;
    for (auto at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1)) ++count;
    return count;
}

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// Polls `condition` until it holds or `timeout` passes; answers whether it held. For waiting on
// another process; never a substitute for a synchronisation point inside one process.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// A child process started from a program path with arguments, optional extra environment and
// working folder. Standard output and error go to files that the test can read at any time.
class ChildProcess {
public:
    struct Options {
        std::map<std::string, std::string> env;  // added to (or replacing in) the inherited environment
        std::string workingDir;
        std::string stdinText;  // written to the child's standard input, which is then closed
    };

    ChildProcess(const std::string& program, const std::vector<std::string>& args);
    ChildProcess(const std::string& program, const std::vector<std::string>& args, const Options& options);
    ~ChildProcess();  // kills the child (SIGKILL) when it still runs
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    int pid() const { return pid_; }
    bool running();
    // The exit code (or 128 + signal) once the child has ended, waiting at most `timeout`.
    std::optional<int> wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    void signal(int sig);
    std::string out() const;
    std::string err() const;

private:
    int pid_ = -1;
    std::optional<int> status_;
    std::string outPath_;
    std::string errPath_;
};

// Runs a program to its end and answers its exit code and standard output.
struct CommandResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
CommandResult runCommand(const std::string& program, const std::vector<std::string>& args,
                         const ChildProcess::Options& options = {},
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

}  // namespace nimbrel::test
