#include "Registry.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using Section = std::map<std::string, std::string>;
using Store = std::map<std::string, Section>;

std::mutex g_registryMutex;

std::string Trim(const std::string& s)
{
    std::size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    std::size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Key paths compare without case, as registry keys do.
std::string Canonical(const std::string& key)
{
    std::string out;
    for (char c : key)
        out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

Store Load(const std::string& path, std::map<std::string, std::string>* spelling)
{
    Store store;
    std::ifstream in(path);
    std::string line, current;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t.front() == '[' && t.back() == ']') {
            std::string key = t.substr(1, t.size() - 2);
            current = Canonical(key);
            store[current];
            if (spelling)
                (*spelling)[current] = key;
            continue;
        }
        std::size_t eq = t.find('=');
        if (eq == std::string::npos)
            continue;
        store[current][Trim(t.substr(0, eq))] = Trim(t.substr(eq + 1));
    }
    return store;
}

void MakeParentDirectories(const std::string& path)
{
    for (std::size_t pos = 1; (pos = path.find('/', pos)) != std::string::npos; ++pos)
        mkdir(path.substr(0, pos).c_str(), 0755);
}

bool Save(const std::string& path, const Store& store, const std::map<std::string, std::string>& spelling)
{
    MakeParentDirectories(path);
    std::string temp = path + ".tmp." + std::to_string(getpid());
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out)
            return false;
        for (const auto& [key, values] : store) {
            auto named = spelling.find(key);
            out << '[' << (named != spelling.end() ? named->second : key) << "]\n";
            for (const auto& [name, value] : values)
                out << name << '=' << value << '\n';
            out << '\n';
        }
        out.flush();
        if (!out) {
            unlink(temp.c_str());
            return false;
        }
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

// Serialises writers of other processes too (registration during builds).
class FileLock {
public:
    explicit FileLock(const std::string& path)
    {
        MakeParentDirectories(path);
        fd_ = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0)
            flock(fd_, LOCK_EX);
    }
    ~FileLock()
    {
        if (fd_ >= 0) {
            flock(fd_, LOCK_UN);
            close(fd_);
        }
    }

private:
    int fd_ = -1;
};

template <typename Change>
bool Modify(Change change)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    std::string path = RegistryPath();
    FileLock fileLock(path);
    std::map<std::string, std::string> spelling;
    Store store = Load(path, &spelling);
    if (!change(store, spelling))
        return false;
    return Save(path, store, spelling);
}

} // namespace

std::string RegistryPath()
{
    if (const char* p = std::getenv("VYR_REGISTRY"); p && *p)
        return p;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config/Vyrdax/registry.ini";
}

std::optional<std::string> RegistryReadString(const std::string& key, const std::string& name)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    Store store = Load(RegistryPath(), nullptr);
    auto section = store.find(Canonical(key));
    if (section == store.end())
        return std::nullopt;
    auto value = section->second.find(name.empty() ? "@" : name);
    if (value == section->second.end())
        return std::nullopt;
    return value->second;
}

std::optional<long> RegistryReadInt(const std::string& key, const std::string& name)
{
    std::optional<std::string> text = RegistryReadString(key, name);
    if (!text || text->empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text->c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return std::nullopt;
    return v;
}

bool RegistryWriteString(const std::string& key, const std::string& name, const std::string& value)
{
    if (value.find_first_of("\r\n") != std::string::npos || name.find_first_of("=\r\n[]") != std::string::npos)
        return false;
    return Modify([&](Store& store, std::map<std::string, std::string>& spelling) {
        std::string k = Canonical(key);
        // Parent keys exist as sections of their own, as a registry's do.
        for (std::size_t pos = 0; (pos = key.find('\\', pos + 1)) != std::string::npos;) {
            std::string parent = Canonical(key.substr(0, pos));
            if (!store.count(parent)) {
                store[parent];
                spelling[parent] = key.substr(0, pos);
            }
        }
        store[k][name.empty() ? "@" : name] = value;
        if (!spelling.count(k))
            spelling[k] = key;
        return true;
    });
}

bool RegistryWriteInt(const std::string& key, const std::string& name, long value)
{
    return RegistryWriteString(key, name, std::to_string(value));
}

bool RegistryDeleteKey(const std::string& key)
{
    return Modify([&](Store& store, std::map<std::string, std::string>& spelling) {
        std::string k = Canonical(key);
        bool removed = false;
        for (auto it = store.begin(); it != store.end();) {
            if (it->first == k || it->first.compare(0, k.size() + 1, k + "\\") == 0) {
                spelling.erase(it->first);
                it = store.erase(it);
                removed = true;
            } else {
                ++it;
            }
        }
        return removed;
    });
}

std::vector<std::string> RegistrySubKeys(const std::string& key)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    std::map<std::string, std::string> spelling;
    Store store = Load(RegistryPath(), &spelling);
    std::string prefix = Canonical(key) + "\\";
    std::vector<std::string> out;
    for (const auto& [k, values] : store) {
        if (k.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string rest = k.substr(prefix.size());
        if (rest.find('\\') != std::string::npos)
            continue;
        auto named = spelling.find(k);
        std::string spelled = named != spelling.end() ? named->second : k;
        out.push_back(spelled.substr(spelled.size() - rest.size()));
    }
    return out;
}

} // namespace platform
