#include "Component.h"
#include "ControlContainer.h"
#include "Registry.h"

#include <cstdio>
#include <dlfcn.h>
#include <unistd.h>

namespace platform {

const Guid IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const Guid IID_IControl{0x6C3A9E11, 0x52B4, 0x4D0F, {0x9A, 0x61, 0x1E, 0x7B, 0x30, 0xC4, 0x88, 0x02}};

std::string Guid::ToString() const
{
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2, data3,
                  data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6], data4[7]);
    return text;
}

std::optional<Guid> Guid::Parse(const std::string& text)
{
    if (text.size() != 38 || text.front() != '{' || text.back() != '}')
        return std::nullopt;
    unsigned v[11];
    char tail;
    int n = std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &tail);
    if (n != 11)
        return std::nullopt;
    for (std::size_t k : {9u, 14u, 19u, 24u})
        if (text[k] != '-')
            return std::nullopt;
    Guid g;
    g.data1 = v[0];
    g.data2 = static_cast<uint16_t>(v[1]);
    g.data3 = static_cast<uint16_t>(v[2]);
    for (int k = 0; k < 8; ++k)
        g.data4[k] = static_cast<uint8_t>(v[3 + k]);
    return g;
}

std::string ModulePathOf(const void* addressInModule)
{
    Dl_info info{};
    if (dladdr(addressInModule, &info) == 0 || !info.dli_fname)
        return {};
    char resolved[4096];
    if (realpath(info.dli_fname, resolved))
        return resolved;
    return info.dli_fname;
}

std::string RunningProgramPath()
{
    char resolved[4096];
    const ssize_t n = ::readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    if (n <= 0)
        return {};
    resolved[n] = '\0';
    return resolved;
}

std::optional<Guid> ClassIdFromProgId(const std::string& progId)
{
    std::optional<std::string> clsid = RegistryReadString(progId + "\\CLSID", "");
    if (!clsid)
        return std::nullopt;
    return Guid::Parse(*clsid);
}

ControlHandle::~ControlHandle() { reset(); }

ControlHandle::ControlHandle(ControlHandle&& other) noexcept
    : control_(other.control_), library_(std::move(other.library_))
{
    other.control_ = nullptr;
}

ControlHandle& ControlHandle::operator=(ControlHandle&& other) noexcept
{
    if (this != &other) {
        reset();
        control_ = other.control_;
        library_ = std::move(other.library_);
        other.control_ = nullptr;
    }
    return *this;
}

void ControlHandle::reset()
{
    if (control_) {
        control_->Release();
        control_ = nullptr;
    }
    library_.reset();
}

namespace {

// A library stays loaded for the life of the process once a control of it
// was made: Qt keeps metadata of the library's widget classes, so unloading
// it under a running application is never safe.
std::shared_ptr<void> LoadLibrary(const std::string& path, std::string* error)
{
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (!handle) {
        if (error)
            *error = dlerror();
        return nullptr;
    }
    return std::shared_ptr<void>(handle, [](void* h) { dlclose(h); });
}

} // namespace

ControlHandle CreateControl(const std::string& classId, QWidget* host, HRESULT* result, std::string* error)
{
    HRESULT dummyResult;
    std::string dummyError;
    if (!result)
        result = &dummyResult;
    if (!error)
        error = &dummyError;
    ControlHandle handle;

    std::optional<Guid> clsid = Guid::Parse(classId);
    if (!clsid)
        clsid = ClassIdFromProgId(classId);
    if (!clsid) {
        *result = REGDB_E_CLASSNOTREG;
        *error = "class not registered: " + classId;
        return handle;
    }
    std::optional<std::string> path = RegistryReadString("CLSID\\" + clsid->ToString() + "\\InprocServer32", "");
    if (!path || path->empty()) {
        *result = REGDB_E_CLASSNOTREG;
        *error = "class not registered: " + clsid->ToString();
        return handle;
    }
    std::shared_ptr<void> library = LoadLibrary(*path, error);
    if (!library) {
        *result = CLASS_E_CLASSNOTAVAILABLE;
        return handle;
    }
    auto getClassObject = reinterpret_cast<DllGetClassObjectFn>(dlsym(library.get(), "DllGetClassObject"));
    if (!getClassObject) {
        *result = CLASS_E_CLASSNOTAVAILABLE;
        *error = "no DllGetClassObject in " + *path;
        return handle;
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = getClassObject(&*clsid, &IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (!Succeeded(hr) || !factory) {
        *result = Succeeded(hr) ? CLASS_E_CLASSNOTAVAILABLE : hr;
        *error = "class object not available";
        return handle;
    }
    IControl* control = nullptr;
    hr = factory->CreateInstance(host, &control);
    if (!Succeeded(hr) || !control) {
        *result = Succeeded(hr) ? E_FAIL : hr;
        *error = "control could not be created";
        return handle;
    }
    handle.control_ = control;
    handle.library_ = std::move(library);
    *result = S_OK;
    return handle;
}

} // namespace platform
