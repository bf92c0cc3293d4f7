// Request texts as the IPC module hands them to CServiceIpcManager::OnRequest: a command, CR LF
// and a body. The commands that touch no file are fuzzed whole; any other command name is turned
// into an unknown one, so the dispatch still sees arbitrary names while no input can mount,
// project into, move or end anything on the machine that runs the fuzzer.
#include <sys/prctl.h>
#include <unistd.h>

#include <QString>
#include <cstdlib>
#include <set>

#include "fuzz_env.h"
#include "host/sync_virtual_config.h"
#include "ipc/service_ipc_manager.h"

namespace {

const char kRuntimeDirSet[] = "NIMBREL_FUZZ_FOLDERS";

std::string processName() { return "nf" + std::to_string(getpid()) + ".exe"; }

// Without a channel every request to the client fails, so the liveness watch looks for the
// client's process: this process plays it, under a client name of its own.
class FuzzConfig : public CMountDiskConfig {
public:
    QString clientAppName(bool bare) override {
        const QString name = QString::fromStdString(processName());
        return bare ? name.left(name.size() - 4) : name;
    }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char*** argv) {
    // The liveness watch only counts processes started with this runtime folder, so the folders
    // must be in the environment the process starts with: set them and start again.
    if (!std::getenv(kRuntimeDirSet)) {
        nimbrel::fuzz::useFreshPlatformFolders();
        setenv(kRuntimeDirSet, "1", 1);
        execv("/proc/self/exe", *argv);
        std::abort();
    }
    g_syncConfig = std::make_shared<FuzzConfig>();
    prctl(PR_SET_NAME, processName().c_str(), 0, 0, 0);
    CServiceIpcManager::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::set<std::wstring> kWithoutFiles = {
        L"newChannel",  L"getMessage",         L"getDiskinfo",         L"checkOnline",
        L"cancelTasks", L"getFileHistoryList", L"ziduZuduReloadProxy", L"ziduZuduSendConfig"};
    std::wstring text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<int>(size)).toStdWString();
    const std::size_t lineBreak = text.find(L"\r\n");
    if (lineBreak != 0 && lineBreak != std::wstring::npos && !kWithoutFiles.count(text.substr(0, lineBreak))) {
        text.insert(0, L"unknown-");
    }
    CServiceIpcManager::instance().OnRequest("fuzz", text);
    return 0;
}
