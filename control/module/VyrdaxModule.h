#pragma once
// The control library's module: its exports, class factory and registration.
#include "platform/Component.h"

#include <mutex>

namespace vyrdax {

// Counted so that DllCanUnloadNow knows when nothing of the library is in use.
void ModuleObjectCreated();
void ModuleObjectDestroyed();

// Shared by the local playback threads of every control in the process.
std::recursive_mutex& ModuleLock();

} // namespace vyrdax

extern "C" {
__attribute__((visibility("default"))) platform::HRESULT DllRegisterServer();
__attribute__((visibility("default"))) platform::HRESULT DllUnregisterServer();
__attribute__((visibility("default"))) platform::HRESULT DllGetClassObject(const platform::Guid* clsid,
                                                                          const platform::Guid* iid, void** object);
__attribute__((visibility("default"))) platform::HRESULT DllCanUnloadNow();
}
