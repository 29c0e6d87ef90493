#pragma once
// The component registry and every other registry value the system keeps:
// a small INI store (one section per key path, `name=value` lines, "@" for a
// key's default value). Plain C++ so that Qt-free code can read it too.
#include <optional>
#include <string>
#include <vector>

namespace platform {

// $VYR_REGISTRY, else ~/.config/Vyrdax/registry.ini.
std::string RegistryPath();

std::optional<std::string> RegistryReadString(const std::string& key, const std::string& name);
std::optional<long> RegistryReadInt(const std::string& key, const std::string& name);

// Writes are read-modify-write of the whole file, replaced by rename so that
// a crash never leaves half a file. Values may not hold line breaks.
bool RegistryWriteString(const std::string& key, const std::string& name, const std::string& value);
bool RegistryWriteInt(const std::string& key, const std::string& name, long value);

// Removes the key and every key below it.
bool RegistryDeleteKey(const std::string& key);

// Names of the keys directly below `key`.
std::vector<std::string> RegistrySubKeys(const std::string& key);

} // namespace platform
