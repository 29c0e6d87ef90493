#include "VyrdaxModule.h"

#include "control/CVyrdaxCtrl.h"
#include "control/interface/VyrdaxInterface.h"
#include "platform/Registry.h"

#include <atomic>
#include <string>

namespace vyrdax {

namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class CVyrdaxFactory final : public platform::IClassFactory {
public:
    platform::HRESULT CreateInstance(QWidget* host, platform::IControl** control) override
    {
        if (!control)
            return platform::E_POINTER;
        *control = nullptr;
        if (!host)
            return platform::E_INVALIDARG;
        *control = new CVyrdaxCtrl(host);
        return platform::S_OK;
    }
    platform::HRESULT LockServer(bool lock) override
    {
        lock ? ++g_locks : --g_locks;
        return platform::S_OK;
    }
};

CVyrdaxFactory g_factory;

std::string ClassKey() { return "CLSID\\" + kClassId.ToString(); }
std::string TypeLibKey() { return "TypeLib\\" + kTypeLibId.ToString() + "\\1.0"; }

std::string LibraryPath() { return platform::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)); }

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool RegisterTypeLib()
{
    using platform::RegistryWriteString;
    const std::string path = LibraryPath();
    const std::string lib = TypeLibKey();
    bool ok = RegistryWriteString(lib, "", kTypeLibHelpString) && RegistryWriteString(lib, "Name", kTypeLibName) &&
              RegistryWriteString(lib + "\\0\\linux", "", path) && RegistryWriteString(lib + "\\FLAGS", "", "0") &&
              RegistryWriteString(lib + "\\HELPDIR", "", DirectoryOf(path)) &&
              RegistryWriteString(lib, "HelpFile", kHelpFileName);
    for (const auto& [iid, name, help] :
         {std::tuple{kDispatchIid, "_DVyrdax", kDispatchHelpString},
          std::tuple{kEventsIid, "_DVyrdaxEvents", kEventsHelpString}}) {
        const std::string key = "Interface\\" + iid.ToString();
        ok = ok && RegistryWriteString(key, "", name) && RegistryWriteString(key, "HelpString", help) &&
             RegistryWriteString(key + "\\TypeLib", "", kTypeLibId.ToString()) &&
             RegistryWriteString(key + "\\TypeLib", "Version", "1.0");
    }
    return ok;
}

bool UnregisterTypeLib()
{
    bool ok = platform::RegistryDeleteKey(TypeLibKey());
    platform::RegistryDeleteKey("TypeLib\\" + kTypeLibId.ToString());
    platform::RegistryDeleteKey("Interface\\" + kDispatchIid.ToString());
    platform::RegistryDeleteKey("Interface\\" + kEventsIid.ToString());
    return ok;
}

bool RegisterControlClass()
{
    using platform::RegistryWriteString;
    const std::string path = LibraryPath();
    const std::string cls = ClassKey();
    const std::string clsid = kClassId.ToString();
    return RegistryWriteString(cls, "", kUserTypeName) &&
           RegistryWriteString(cls, "HelpString", kCoclassHelpString) &&
           RegistryWriteString(cls + "\\InprocServer32", "", path) &&
           RegistryWriteString(cls + "\\InprocServer32", "ThreadingModel", "Apartment") &&
           RegistryWriteString(cls + "\\ProgID", "", kProgId) && RegistryWriteString(cls + "\\Control", "", "") &&
           RegistryWriteString(cls + "\\ToolboxBitmap32", "", path + ", " + std::to_string(kToolboxBitmapId)) &&
           RegistryWriteString(cls + "\\MiscStatus", "", "0") &&
           RegistryWriteString(cls + "\\MiscStatus\\1", "", std::to_string(kMiscStatus)) &&
           RegistryWriteString(cls + "\\TypeLib", "", kTypeLibId.ToString()) &&
           RegistryWriteString(cls + "\\Version", "", "1.0") && RegistryWriteString(kProgId, "", kUserTypeName) &&
           RegistryWriteString(std::string(kProgId) + "\\CLSID", "", clsid);
}

bool UnregisterControlClass()
{
    bool ok = platform::RegistryDeleteKey(ClassKey());
    ok = platform::RegistryDeleteKey(kProgId) && ok;
    return ok;
}

} // namespace

void ModuleObjectCreated() { ++g_objects; }
void ModuleObjectDestroyed() { --g_objects; }

std::recursive_mutex& ModuleLock()
{
    static std::recursive_mutex lock;
    return lock;
}

} // namespace vyrdax

using namespace vyrdax;

extern "C" platform::HRESULT DllRegisterServer()
{
    if (!RegisterTypeLib())
        return SELFREG_E_TYPELIB;
    if (!RegisterControlClass())
        return SELFREG_E_CLASS;
    return platform::S_OK;
}

extern "C" platform::HRESULT DllUnregisterServer()
{
    if (!UnregisterTypeLib())
        return SELFREG_E_TYPELIB;
    if (!UnregisterControlClass())
        return SELFREG_E_CLASS;
    return platform::S_OK;
}

extern "C" platform::HRESULT DllGetClassObject(const platform::Guid* clsid, const platform::Guid* iid, void** object)
{
    if (!object)
        return platform::E_POINTER;
    *object = nullptr;
    if (!clsid || *clsid != kClassId)
        return platform::CLASS_E_CLASSNOTAVAILABLE;
    if (!iid || *iid != platform::IID_IClassFactory)
        return platform::E_NOINTERFACE;
    *object = static_cast<platform::IClassFactory*>(&g_factory);
    return platform::S_OK;
}

extern "C" platform::HRESULT DllCanUnloadNow()
{
    return g_objects.load() == 0 && g_locks.load() == 0 ? platform::S_OK : platform::S_FALSE;
}
