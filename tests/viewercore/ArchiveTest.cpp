#include "platform/Archive.h"

#include <gtest/gtest.h>

#include <functional>

using platform::ArchiveException;
using platform::ArchiveReader;
using platform::ArchiveWriter;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

ArchiveException::Cause CauseOf(const std::function<void()>& read)
{
    try {
        read();
    } catch (const ArchiveException& e) {
        return e.cause();
    }
    ADD_FAILURE() << "no archive exception";
    return ArchiveException::BadValue;
}

} // namespace

TEST(Archive, PrimitivesAreLittleEndian)
{
    ArchiveWriter w;
    w.WriteU8(0x12);
    w.WriteI16(-2);
    w.WriteU32(0x01326775);
    w.WriteI32(-1);
    EXPECT_EQ(w.Bytes(), Bytes({ 0x12, 0xFE, 0xFF, 0x75, 0x67, 0x32, 0x01, 0xFF, 0xFF, 0xFF, 0xFF }));
    ArchiveReader r(w.Bytes());
    EXPECT_EQ(r.ReadU8(), 0x12);
    EXPECT_EQ(r.ReadI16(), -2);
    EXPECT_EQ(r.ReadU32(), 0x01326775u);
    EXPECT_EQ(r.ReadI32(), -1);
    EXPECT_EQ(CauseOf([&] { r.ReadU8(); }), ArchiveException::EndOfFile);
}

TEST(Archive, StringLengthFormsAtTheirBoundaries)
{
    struct Case {
        std::size_t length;
        std::vector<uint8_t> prefix;
    };
    const Case cases[] = {
        { 0, Bytes({ 0xFF, 0xFE, 0xFF, 0x00 }) },
        { 254, Bytes({ 0xFF, 0xFE, 0xFF, 0xFE }) },
        { 255, Bytes({ 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0x00 }) },
        { 0xFFFD, Bytes({ 0xFF, 0xFE, 0xFF, 0xFF, 0xFD, 0xFF }) },
        { 0xFFFE, Bytes({ 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00 }) },
        { 70000, Bytes({ 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00 }) },
    };
    for (const Case& c : cases) {
        std::u16string text(c.length, u'\u20AC');
        ArchiveWriter w;
        w.WriteString(text);
        ASSERT_EQ(w.Bytes().size(), c.prefix.size() + 2 * c.length) << c.length;
        EXPECT_TRUE(std::equal(c.prefix.begin(), c.prefix.end(), w.Bytes().begin())) << c.length;
        if (c.length) {
            EXPECT_EQ(w.Bytes()[c.prefix.size()], 0xAC);
        }
        ArchiveReader r(w.Bytes());
        EXPECT_EQ(r.ReadString(), text);
        EXPECT_EQ(r.Remaining(), 0u);
    }
}

TEST(Archive, ReadsEightBitStringsWithoutTheMarker)
{
    // Short form with a Windows-1252 byte, then the 16-bit and 32-bit length forms.
    std::vector<uint8_t> data = Bytes({ 3, 'a', 0x80, 0xE9 });
    std::vector<uint8_t> mid = Bytes({ 0xFF, 0x2C, 0x01 });
    mid.insert(mid.end(), 300, 'm');
    std::vector<uint8_t> big = Bytes({ 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00, 'o', 'k' });
    data.insert(data.end(), mid.begin(), mid.end());
    data.insert(data.end(), big.begin(), big.end());
    ArchiveReader r(data);
    EXPECT_EQ(r.ReadString(), u"a\u20AC\u00E9");
    EXPECT_EQ(r.ReadString(), std::u16string(300, u'm'));
    EXPECT_EQ(r.ReadString(), u"ok");
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(Archive, StringAndCountLengthsAreBoundedByTheBytesLeft)
{
    // A Unicode string claiming 2^31 units, an 8-bit one one byte short, the
    // 64-bit form, and counts larger than the data could hold.
    const auto hugeBytes = Bytes({ 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80, 'a', 0 });
    ArchiveReader huge(hugeBytes);
    EXPECT_EQ(CauseOf([&] { huge.ReadString(); }), ArchiveException::EndOfFile);
    const auto shortTextBytes = Bytes({ 4, 'a', 'b', 'c' });
    ArchiveReader shortText(shortTextBytes);
    EXPECT_EQ(CauseOf([&] { shortText.ReadString(); }), ArchiveException::EndOfFile);
    const auto wideBytes = Bytes({ 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF });
    ArchiveReader wide(wideBytes);
    EXPECT_EQ(CauseOf([&] { wide.ReadString(); }), ArchiveException::BadCount);
    const auto countBytes = Bytes({ 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0 });
    ArchiveReader count(countBytes);
    EXPECT_EQ(CauseOf([&] { count.ReadCount(2); }), ArchiveException::BadCount);
    const auto fitsBytes = Bytes({ 0x02, 0x00, 1, 2, 3, 4 });
    ArchiveReader fits(fitsBytes);
    EXPECT_EQ(fits.ReadCount(2), 2u);
}

TEST(Archive, ObjectTagsShareOneIndexCounter)
{
    int list = 0, first = 0, second = 0;
    ArchiveWriter w;
    EXPECT_TRUE(w.WriteObjectTag(&list, "CObList", 0)); // class 1, object 2
    w.WriteCount(2);
    EXPECT_TRUE(w.WriteObjectTag(&first, "CChannel", 1)); // class 3, object 4
    EXPECT_TRUE(w.WriteObjectTag(&second, "CChannel", 1)); // object 5
    w.WriteNullObject();
    EXPECT_FALSE(w.WriteObjectTag(&first, "CChannel", 1)); // back-reference
    EXPECT_EQ(w.Bytes(), Bytes({ 0xFF, 0xFF, 0x00, 0x00, 0x07, 0x00, 'C', 'O', 'b', 'L', 'i', 's', 't', 0x02, 0x00,
                                 0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00, 'C', 'C', 'h', 'a', 'n', 'n', 'e', 'l',
                                 0x03, 0x80, 0x00, 0x00, 0x04, 0x00 }));

    ArchiveReader r(w.Bytes());
    EXPECT_TRUE(r.ReadObjectTag("CObList", 0));
    EXPECT_EQ(r.ReadCount(2), 2u);
    EXPECT_TRUE(r.ReadObjectTag("CChannel", 1));
    EXPECT_TRUE(r.ReadObjectTag("CChannel", 1));
    EXPECT_FALSE(r.ReadObjectTag("CChannel", 1));
    // Every object of the settings files has one owner: no back-references.
    EXPECT_EQ(CauseOf([&] { r.ReadObjectTag("CChannel", 1); }), ArchiveException::BadIndex);
}

TEST(Archive, OnlyTheExpectedClassAndSchemaAreTaken)
{
    ArchiveWriter w;
    int a = 0, b = 0;
    w.WriteObjectTag(&a, "CDVR", 1);
    w.WriteObjectTag(&b, "CDVR", 1); // class reference 0x8001
    {
        ArchiveReader r(w.Bytes());
        EXPECT_EQ(CauseOf([&] { r.ReadObjectTag("CGroup", 1); }), ArchiveException::BadClass);
    }
    {
        ArchiveReader r(w.Bytes());
        EXPECT_EQ(CauseOf([&] { r.ReadObjectTag("CDVR", 2); }), ArchiveException::BadSchema);
    }
    {
        ArchiveReader r(w.Bytes());
        EXPECT_TRUE(r.ReadObjectTag("CDVR", 1));
        EXPECT_EQ(CauseOf([&] { r.ReadObjectTag("CChannel", 1); }), ArchiveException::BadClass);
    }
    // A class tag that names an object, an index never given, a name too long.
    const auto objectAsClassBytes = Bytes({ 0xFF, 0xFF, 1, 0, 1, 0, 'X', 0x02, 0x80 });
    ArchiveReader objectAsClass(objectAsClassBytes);
    EXPECT_TRUE(objectAsClass.ReadObjectTag("X", 1));
    EXPECT_EQ(CauseOf([&] { objectAsClass.ReadObjectTag("X", 1); }), ArchiveException::BadIndex);
    const auto unknownBytes = Bytes({ 0x05, 0x80 });
    ArchiveReader unknown(unknownBytes);
    EXPECT_EQ(CauseOf([&] { unknown.ReadObjectTag("X", 1); }), ArchiveException::BadIndex);
    const auto longNameBytes = Bytes({ 0xFF, 0xFF, 1, 0, 64, 0 });
    ArchiveReader longName(longNameBytes);
    EXPECT_EQ(CauseOf([&] { longName.ReadObjectTag("X", 1); }), ArchiveException::BadClass);
}

TEST(Archive, LongTagFormPastIndex7FFE)
{
    // Class "A" at index 1, then objects up to index 0x8002; a second class
    // "B" then gets index 0x8003 and a reference to it needs the long form.
    ArchiveWriter w;
    std::vector<int> objects(0x8001);
    for (int& o : objects)
        w.WriteObjectTag(&o, "A", 1);
    int b1 = 0, b2 = 0;
    w.WriteObjectTag(&b1, "B", 1);
    const std::size_t before = w.Bytes().size();
    w.WriteObjectTag(&b2, "B", 1);
    EXPECT_EQ(std::vector<uint8_t>(w.Bytes().begin() + before, w.Bytes().end()),
              Bytes({ 0xFF, 0x7F, 0x03, 0x80, 0x00, 0x80 }));
    const std::size_t backReference = w.Bytes().size();
    EXPECT_FALSE(w.WriteObjectTag(&b1, "B", 1));
    EXPECT_EQ(std::vector<uint8_t>(w.Bytes().begin() + backReference, w.Bytes().end()),
              Bytes({ 0xFF, 0x7F, 0x04, 0x80, 0x00, 0x00 }));

    ArchiveReader r(w.Bytes());
    for (std::size_t i = 0; i < objects.size(); ++i)
        ASSERT_TRUE(r.ReadObjectTag("A", 1));
    EXPECT_TRUE(r.ReadObjectTag("B", 1));
    EXPECT_TRUE(r.ReadObjectTag("B", 1));
    EXPECT_EQ(CauseOf([&] { r.ReadObjectTag("B", 1); }), ArchiveException::BadIndex);
}
