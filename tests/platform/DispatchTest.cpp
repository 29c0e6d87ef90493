#include "platform/Component.h"
#include "platform/Dispatch.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

const std::vector<MethodInfo>& Table()
{
    static const std::vector<MethodInfo> t = {
        {1, "SetName", VT_EMPTY, {{"name", VT_BSTR}, {"path", VT_BSTR, StringKind::Path}, {"n", VT_I2}}},
        {2, "isReady", VT_BOOL, {{"idxCh", VT_I2}}},
    };
    return t;
}

TEST(DispatchTable, NamesMatchWithoutCase)
{
    DispatchTable table(Table());
    int id = 0;
    EXPECT_EQ(table.GetIDsOfNames("ISREADY", &id), S_OK);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(table.GetIDsOfNames("isready", &id), S_OK);
    EXPECT_EQ(table.GetIDsOfNames("isReadyX", &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(table.GetIDsOfNames("isRead", &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(table.GetIDsOfNames("", &id), DISP_E_UNKNOWNNAME);
}

TEST(DispatchTable, NarrowsNamesToLowBytesAndPathsToUtf8)
{
    DispatchTable table(Table());
    std::vector<Variant> out;
    // U+0141 keeps its low byte 0x41 as a name; as a path it is UTF-8.
    const std::u16string text = u"\u0141x\u00e9";
    HRESULT hr = table.Check(1, {Variant::String(text), Variant::String(text), Variant::Short(3)}, &out, nullptr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(out[0].text, std::string("\x41x\xe9"));
    EXPECT_EQ(out[1].text, std::string("\xc5\x81x\xc3\xa9"));
    EXPECT_EQ(out[2].i, 3);
}

TEST(DispatchTable, RefusesUnknownMembersCountsAndTypes)
{
    DispatchTable table(Table());
    std::vector<Variant> out;
    EXPECT_EQ(table.Check(3, {}, &out, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(table.Check(-552, {}, &out, nullptr), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(table.Check(2, {}, &out, nullptr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(table.Check(2, {Variant::Short(1), Variant::Short(1)}, &out, nullptr), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(table.Check(2, {Variant::Long(1)}, &out, nullptr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(table.Check(2, {Variant::Bool(true)}, &out, nullptr), DISP_E_TYPEMISMATCH);
    Variant tooWide = Variant::Short(0);
    tooWide.i = 70000; // a VT_I2 that cannot exist
    EXPECT_EQ(table.Check(2, {tooWide}, &out, nullptr), DISP_E_TYPEMISMATCH);
}

TEST(Guid, FormatsAndParsesBothWays)
{
    const Guid g{0x3B7E4A2D, 0x91C6, 0x4F58, {0xB3, 0x0E, 0x6D, 0x21, 0x8A, 0x5C, 0x47, 0x19}};
    EXPECT_EQ(g.ToString(), "{3B7E4A2D-91C6-4F58-B30E-6D218A5C4719}");
    auto parsed = Guid::Parse(g.ToString());
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, g);
    EXPECT_EQ(*Guid::Parse("{3b7e4a2d-91c6-4f58-b30e-6d218a5c4719}"), g);
    EXPECT_FALSE(Guid::Parse("3B7E4A2D-91C6-4F58-B30E-6D218A5C4719"));
    EXPECT_FALSE(Guid::Parse("{3B7E4A2D_91C6-4F58-B30E-6D218A5C4719}"));
    EXPECT_FALSE(Guid::Parse("{3B7E4A2D-91C6-4F58-B30E-6D218A5C47}"));
    EXPECT_FALSE(Guid::Parse("VYRDAX.VyrdaxCtrl.1"));
}

} // namespace
