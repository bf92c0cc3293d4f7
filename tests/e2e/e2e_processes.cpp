#include "e2e_processes.h"

#include <filesystem>

#include "support/test_env.h"

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

}  // namespace nimbrel::test
