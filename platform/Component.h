#pragma once
// In-process components: class identifiers, the class factory a component
// library hands out through DllGetClassObject, and the interface of a
// control that lives as a child widget of its host.
#include "Dispatch.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

class QWidget;

namespace platform {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    bool operator==(const Guid& o) const
    {
        return data1 == o.data1 && data2 == o.data2 && data3 == o.data3 && data4 == o.data4;
    }
    bool operator!=(const Guid& o) const { return !(*this == o); }

    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
    std::string ToString() const;
    static std::optional<Guid> Parse(const std::string& text);
};

// Interface identifiers of the factory and of a control instance.
extern const Guid IID_IClassFactory;
extern const Guid IID_IControl;

// One control instance: late-bound calls plus the widget that the host
// places in its window. The host owns it through Release().
class IControl : public IDispatch {
public:
    virtual QWidget* Widget() = 0;
    virtual void Release() = 0;
};

class IClassFactory {
public:
    // Creates a control whose window is a child of `host`.
    virtual HRESULT CreateInstance(QWidget* host, IControl** control) = 0;
    virtual HRESULT LockServer(bool lock) = 0;

protected:
    ~IClassFactory() = default;
};

// The four exports of a component library, with C linkage.
extern "C" {
using DllGetClassObjectFn = HRESULT (*)(const Guid* clsid, const Guid* iid, void** object);
using DllCanUnloadNowFn = HRESULT (*)();
using DllRegisterServerFn = HRESULT (*)();
using DllUnregisterServerFn = HRESULT (*)();
}

// Path of the shared library the running code was loaded from.
std::string ModulePathOf(const void* addressInModule);

// Path of the running program, whatever the directory it was started from.
std::string RunningProgramPath();

} // namespace platform
