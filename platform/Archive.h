#pragma once
// The class library's archive format, as the settings files use it: packed
// little-endian primitives, length-prefixed strings with the Unicode marker,
// and the object form (class tags, object indexes, back-references) with one
// index counter per archive. Plain C++ so it has no toolkit behind it.
#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {

// Raised by the reader on anything it cannot take: the end of the data, a tag
// that names an unknown index, a class or schema other than the one expected.
class ArchiveException : public std::runtime_error {
public:
    enum Cause { EndOfFile, BadIndex, BadClass, BadSchema, BadCount, BadValue };

    ArchiveException(Cause cause, const std::string& what);
    Cause cause() const { return m_cause; }

private:
    Cause m_cause;
};

class ArchiveWriter {
public:
    void WriteU8(uint8_t value);
    void WriteU16(uint16_t value);
    void WriteI16(int16_t value) { WriteU16(static_cast<uint16_t>(value)); }
    void WriteU32(uint32_t value);
    void WriteI32(int32_t value) { WriteU32(static_cast<uint32_t>(value)); }
    void WriteBytes(const uint8_t* data, std::size_t size);

    // Always the Unicode form: FF FE FF, the length, then UTF-16LE units.
    void WriteString(const std::u16string& text);

    // Element count of a collection: 16-bit, or FFFF and 32-bit when larger.
    void WriteCount(uint32_t count);

    void WriteNullObject();

    // Writes the tag of `object` of class `className`. Returns true when the
    // caller must now write the object's body; false when the object was
    // already in this archive and only a back-reference was written.
    bool WriteObjectTag(const void* object, const std::string& className, uint16_t schema);

    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    void WriteIndexTag(uint32_t index, bool isClass);

    std::vector<uint8_t> m_bytes;
    uint32_t m_mapCount = 1; // 0 is the null tag
    std::map<std::string, uint32_t> m_classIndex;
    std::unordered_map<const void*, uint32_t> m_objectIndex;
};

// Reads an archive held in memory. Nothing is trusted: every length and count
// is bounded by the bytes left, and at each object position only the class the
// caller expects is accepted. Back-references are refused, since every object
// of the settings files is owned by exactly one place.
class ArchiveReader {
public:
    ArchiveReader(const uint8_t* data, std::size_t size);
    // Reads the bytes in place: they must outlive the reader.
    explicit ArchiveReader(const std::vector<uint8_t>& bytes);
    explicit ArchiveReader(std::vector<uint8_t>&&) = delete;

    // Inline: a group record alone is some twelve thousand of these.
    uint8_t ReadU8()
    {
        Need(1);
        return m_data[m_position++];
    }
    uint16_t ReadU16()
    {
        Need(2);
        const auto value = static_cast<uint16_t>(m_data[m_position] | (m_data[m_position + 1] << 8));
        m_position += 2;
        return value;
    }
    int16_t ReadI16() { return static_cast<int16_t>(ReadU16()); }
    uint32_t ReadU32()
    {
        Need(4);
        const uint32_t value = uint32_t(m_data[m_position]) | (uint32_t(m_data[m_position + 1]) << 8)
            | (uint32_t(m_data[m_position + 2]) << 16) | (uint32_t(m_data[m_position + 3]) << 24);
        m_position += 4;
        return value;
    }
    int32_t ReadI32() { return static_cast<int32_t>(ReadU32()); }
    void ReadBytes(uint8_t* out, std::size_t size);

    // Either form: with the Unicode marker (UTF-16LE), or without it (8-bit
    // text, taken as Windows-1252).
    std::u16string ReadString();

    // A collection's element count; refused when the bytes left cannot hold
    // that many elements of at least `minimumElementSize` bytes each.
    uint32_t ReadCount(std::size_t minimumElementSize);

    // Reads an object tag where an object of `className` is expected. True:
    // a new object follows and the caller reads its body. False: the null tag.
    bool ReadObjectTag(const std::string& className, uint16_t schema);

    std::size_t Position() const { return m_position; }
    std::size_t Remaining() const { return m_size - m_position; }

private:
    void Need(std::size_t size) const
    {
        if (size > m_size - m_position)
            ThrowEndOfFile();
    }
    [[noreturn]] static void ThrowEndOfFile();

    const uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
    // Index 0 is the null tag; each later entry is a class (the index of its
    // name in m_classNames) or an object (-1).
    std::vector<int32_t> m_map{ -1 };
    std::vector<std::string> m_classNames;
};

} // namespace platform
