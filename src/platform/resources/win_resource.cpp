#include "platform/win_resource.h"

#include <dlfcn.h>
#include <link.h>

#include <string>

#include "platform/platform_paths.h"
#include "platform/win_error.h"

namespace {

// "102" for an integer resource, the text itself for a named one.
std::string resourcePart(LPCWSTR value) {
    if (IS_INTRESOURCE(value)) return std::to_string(reinterpret_cast<ULONG_PTR>(value));
    return nimbrel::platform::toUtf8(std::wstring(value));
}

// The symbol as defined by `module` itself: a symbol of the same name that another loaded object
// defines is not one of the module's resources.
void* symbolOfModule(HMODULE module, const std::string& name) {
    void* scope = module ? reinterpret_cast<void*>(module) : dlopen(nullptr, RTLD_LAZY | RTLD_NOLOAD);
    if (!scope) return nullptr;
    void* symbol = dlsym(scope, name.c_str());
    link_map* wanted = nullptr;
    bool known = dlinfo(scope, RTLD_DI_LINKMAP, &wanted) == 0;
    if (!module) dlclose(scope);
    if (!symbol || !known) return nullptr;
    Dl_info info;
    link_map* owner = nullptr;
    if (dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0) return nullptr;
    return owner == wanted ? symbol : nullptr;
}

const NimbrelResourceEntry* entryOf(HRSRC resource) { return reinterpret_cast<const NimbrelResourceEntry*>(resource); }

}  // namespace

extern "C" HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string typePart = resourcePart(type);
    void* entry = symbolOfModule(module, "nimbrel_resource_" + typePart + "_" + resourcePart(name));
    if (entry) return reinterpret_cast<HRSRC>(entry);
    const bool typeKnown = symbolOfModule(module, "nimbrel_resource_type_" + typePart) != nullptr;
    SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

extern "C" HGLOBAL LoadResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<unsigned char*>(entryOf(resource)->data);
}

extern "C" LPVOID LockResource(HGLOBAL data) { return data; }

extern "C" DWORD SizeofResource(HMODULE, HRSRC resource) {
    if (!resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return entryOf(resource)->size;
}
