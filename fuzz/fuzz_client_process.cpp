#include "fuzz_client_process.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <QString>
#include <cstdlib>
#include <string>

#include "fuzz_env.h"
#include "host/sync_virtual_config.h"

namespace {

const char kFoldersSet[] = "NIMBREL_FUZZ_FOLDERS";

std::string processName() { return "nf" + std::to_string(getpid()) + ".exe"; }

class OwnClientConfig : public CMountDiskConfig {
public:
    QString clientAppName(bool bare) override {
        const QString name = QString::fromStdString(processName());
        return bare ? name.left(name.size() - 4) : name;
    }
};

}  // namespace

void becomeOwnMainClient(char** argv) {
    if (!std::getenv(kFoldersSet)) {
        nimbrel::fuzz::useFreshPlatformFolders();
        setenv(kFoldersSet, "1", 1);
        execv("/proc/self/exe", argv);
        std::abort();
    }
    nimbrel::fuzz::removePlatformFoldersAtExit();
    g_syncConfig = std::make_shared<OwnClientConfig>();
    prctl(PR_SET_NAME, processName().c_str(), 0, 0, 0);
}
