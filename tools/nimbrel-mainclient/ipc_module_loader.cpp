#include "ipc_module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace {

std::string executableFolder() {
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return ".";
    std::string file(path, static_cast<std::size_t>(length));
    return file.substr(0, file.rfind('/'));
}

}  // namespace

IIpcInterface* createIpcChannel(IRequestNotify* receiver, std::string& error) {
    const std::string path = executableFolder() + "/libipcmodule.so";
    void* module = dlopen(path.c_str(), RTLD_NOW);
    if (!module) {
        error = std::string("cannot load the IPC module: ") + dlerror();
        return nullptr;
    }
    auto create = reinterpret_cast<CreateIpcInterfaceFn>(dlsym(module, "CreateIpcInterface"));
    IIpcInterface* channel = nullptr;
    if (!create || create(&channel, receiver) != 0 || !channel) {
        error = "the IPC module has no usable CreateIpcInterface in " + path;
        return nullptr;
    }
    return channel;
}
