#pragma once
// A small VARIANT: the value types the control's dispatch interface carries.
#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = static_cast<HRESULT>(0x80020003u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_UNKNOWNNAME = static_cast<HRESULT>(0x80020006u);
constexpr HRESULT DISP_E_BADPARAMCOUNT = static_cast<HRESULT>(0x8002000Eu);

inline bool Succeeded(HRESULT hr) { return hr >= 0; }

enum VarType : uint16_t {
    VT_EMPTY = 0,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_BSTR = 8,
    VT_BOOL = 11,
    VT_PTR = 26,
};

// A string argument travels as UTF-16 on the host side (`bstr`) and reaches
// the control as 8 bits (`text`), converted by the dispatch layer.
struct Variant {
    VarType vt = VT_EMPTY;
    int32_t i = 0;            // VT_I2, VT_I4, VT_BOOL (0 or 1)
    std::u16string bstr;      // VT_BSTR, host side
    std::string text;         // VT_BSTR, control side
    const void* ptr = nullptr; // VT_PTR: points into the control's memory
    std::size_t ptrSize = 0;   // bytes valid behind ptr

    static Variant Short(int16_t v) { Variant r; r.vt = VT_I2; r.i = v; return r; }
    static Variant Long(int32_t v) { Variant r; r.vt = VT_I4; r.i = v; return r; }
    static Variant Bool(bool v) { Variant r; r.vt = VT_BOOL; r.i = v ? 1 : 0; return r; }
    static Variant String(std::u16string s) { Variant r; r.vt = VT_BSTR; r.bstr = std::move(s); return r; }
    static Variant Narrow(std::string s) { Variant r; r.vt = VT_BSTR; r.text = std::move(s); return r; }
    static Variant Pointer(const void* p, std::size_t n) { Variant r; r.vt = VT_PTR; r.ptr = p; r.ptrSize = n; return r; }
};

const char* VarTypeName(VarType vt);

} // namespace platform
