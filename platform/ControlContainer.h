#pragma once
// Creates registered controls by class identifier or programmatic identifier
// and keeps their libraries loaded while instances live.
#include "Component.h"

#include <memory>
#include <string>

class QWidget;

namespace platform {

class ControlHandle {
public:
    ControlHandle() = default;
    ~ControlHandle();
    ControlHandle(ControlHandle&& other) noexcept;
    ControlHandle& operator=(ControlHandle&& other) noexcept;
    ControlHandle(const ControlHandle&) = delete;
    ControlHandle& operator=(const ControlHandle&) = delete;

    explicit operator bool() const { return control_ != nullptr; }
    IControl* operator->() const { return control_; }
    IControl* get() const { return control_; }
    void reset();

private:
    friend ControlHandle CreateControl(const std::string&, QWidget*, HRESULT*, std::string*);
    IControl* control_ = nullptr;
    std::shared_ptr<void> library_; // released after the control
};

// `classId` is a "{...}" class identifier or a programmatic identifier. On
// failure the handle is empty, `*result` holds the reason and `*error` a text.
ControlHandle CreateControl(const std::string& classId, QWidget* host, HRESULT* result = nullptr,
                            std::string* error = nullptr);

// The class identifier registered for a programmatic identifier.
std::optional<Guid> ClassIdFromProgId(const std::string& progId);

} // namespace platform
