#pragma once
// Late-bound calls by DISPID, checked against a published method table before
// the object is reached.
#include "Variant.h"

#include <string>
#include <vector>

namespace platform {

// How a string argument is narrowed for the object: names, IDs and passwords
// keep the low 8 bits of each UTF-16 unit; file-system paths travel as UTF-8.
enum class StringKind : uint8_t { Narrow, Path };

struct ArgumentInfo {
    const char* name;
    VarType type;
    StringKind stringKind = StringKind::Narrow;
};

struct MethodInfo {
    int dispid;
    const char* name;
    VarType result; // VT_EMPTY for a method without result
    std::vector<ArgumentInfo> arguments;
};

class IDispatch {
public:
    virtual ~IDispatch() = default;
    virtual HRESULT GetIDsOfNames(const std::string& name, int* dispid) = 0;
    virtual HRESULT Invoke(int dispid, const std::vector<Variant>& arguments, Variant* result) = 0;
};

std::string NarrowLow8(const std::u16string& s);
std::string Utf16ToUtf8(const std::u16string& s);
std::u16string WidenLatin1(const std::string& s);

// Checks calls against `methods` and hands the object arguments whose strings
// are already narrowed; unknown members, wrong counts and wrong types never
// reach it.
class DispatchTable {
public:
    explicit DispatchTable(const std::vector<MethodInfo>& methods) : methods_(methods) {}

    const MethodInfo* Find(int dispid) const;
    HRESULT GetIDsOfNames(const std::string& name, int* dispid) const;
    HRESULT Check(int dispid, const std::vector<Variant>& arguments,
                  std::vector<Variant>* narrowed, const MethodInfo** method) const;

private:
    const std::vector<MethodInfo>& methods_;
};

} // namespace platform
