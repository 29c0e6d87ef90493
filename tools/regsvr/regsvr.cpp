// Registers or unregisters a component library in the component registry:
//   regsvr [-u] LIBRARY
#include "platform/Component.h"
#include "platform/Registry.h"

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>

int main(int argc, char** argv)
{
    bool unregister = false;
    const char* library = nullptr;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "-u") == 0)
            unregister = true;
        else if (!library)
            library = argv[k];
    }
    if (!library) {
        std::fprintf(stderr, "usage: regsvr [-u] LIBRARY\n");
        return 2;
    }
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        std::fprintf(stderr, "regsvr: cannot load %s: %s\n", library, dlerror());
        return 1;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto function = reinterpret_cast<platform::DllRegisterServerFn>(dlsym(handle, entry));
    if (!function) {
        std::fprintf(stderr, "regsvr: %s has no %s\n", library, entry);
        dlclose(handle);
        return 1;
    }
    const platform::HRESULT hr = function();
    dlclose(handle);
    if (hr != platform::S_OK) {
        std::fprintf(stderr, "regsvr: %s failed: 0x%08X (registry %s)\n", entry, static_cast<unsigned>(hr),
                     platform::RegistryPath().c_str());
        return 1;
    }
    std::printf("%s succeeded: %s (registry %s)\n", entry, library, platform::RegistryPath().c_str());
    return 0;
}
