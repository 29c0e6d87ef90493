#include "Dispatch.h"

#include <cctype>

namespace platform {

const char* VarTypeName(VarType vt)
{
    switch (vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_I2: return "VT_I2";
    case VT_I4: return "VT_I4";
    case VT_BSTR: return "VT_BSTR";
    case VT_BOOL: return "VT_BOOL";
    case VT_PTR: return "VT_PTR";
    }
    return "VT_?";
}

std::string NarrowLow8(const std::u16string& s)
{
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s)
        out.push_back(static_cast<char>(c & 0xFF));
    return out;
}

std::string Utf16ToUtf8(const std::u16string& s)
{
    std::string out;
    out.reserve(s.size());
    for (std::size_t k = 0; k < s.size(); ++k) {
        uint32_t c = s[k];
        if (c >= 0xD800 && c <= 0xDBFF && k + 1 < s.size() && s[k + 1] >= 0xDC00 && s[k + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[k + 1] - 0xDC00);
            ++k;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD; // a lone surrogate cannot be encoded
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u16string WidenLatin1(const std::string& s)
{
    std::u16string out;
    out.reserve(s.size());
    for (char c : s)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

const MethodInfo* DispatchTable::Find(int dispid) const
{
    for (const MethodInfo& m : methods_)
        if (m.dispid == dispid)
            return &m;
    return nullptr;
}

static bool EqualNoCase(const std::string& a, const char* b)
{
    std::size_t k = 0;
    for (; k < a.size() && b[k]; ++k)
        if (std::tolower(static_cast<unsigned char>(a[k])) != std::tolower(static_cast<unsigned char>(b[k])))
            return false;
    return k == a.size() && b[k] == '\0';
}

HRESULT DispatchTable::GetIDsOfNames(const std::string& name, int* dispid) const
{
    if (!dispid)
        return E_POINTER;
    for (const MethodInfo& m : methods_) {
        if (EqualNoCase(name, m.name)) {
            *dispid = m.dispid;
            return S_OK;
        }
    }
    *dispid = -1;
    return DISP_E_UNKNOWNNAME;
}

HRESULT DispatchTable::Check(int dispid, const std::vector<Variant>& arguments,
                             std::vector<Variant>* narrowed, const MethodInfo** method) const
{
    const MethodInfo* m = Find(dispid);
    if (!m)
        return DISP_E_MEMBERNOTFOUND;
    if (arguments.size() != m->arguments.size())
        return DISP_E_BADPARAMCOUNT;
    narrowed->clear();
    narrowed->reserve(arguments.size());
    for (std::size_t k = 0; k < arguments.size(); ++k) {
        const ArgumentInfo& expected = m->arguments[k];
        const Variant& given = arguments[k];
        if (given.vt != expected.type)
            return DISP_E_TYPEMISMATCH;
        Variant v = given;
        if (v.vt == VT_I2 && (v.i < -32768 || v.i > 32767))
            return DISP_E_TYPEMISMATCH;
        if (v.vt == VT_BSTR) {
            v.text = expected.stringKind == StringKind::Path ? Utf16ToUtf8(v.bstr) : NarrowLow8(v.bstr);
            v.bstr.clear();
        }
        narrowed->push_back(std::move(v));
    }
    if (method)
        *method = m;
    return S_OK;
}

} // namespace platform
