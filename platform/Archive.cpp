#include "Archive.h"

namespace platform {

namespace {

constexpr uint16_t kNullTag = 0x0000;
constexpr uint16_t kNewClassTag = 0xFFFF;
constexpr uint16_t kClassTag = 0x8000;
constexpr uint16_t kBigObjectTag = 0x7FFF;
constexpr uint32_t kBigClassTag = 0x80000000u;
// The class library keeps class names in a 64-byte buffer.
constexpr std::size_t kMaxClassNameLength = 63;

// Windows-1252 for 0x80..0x9F; the rest of the 8-bit range is Latin-1.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

ArchiveException::ArchiveException(Cause cause, const std::string& what)
    : std::runtime_error(what), m_cause(cause)
{
}

// ---------------------------------------------------------------- writer

void ArchiveWriter::WriteU8(uint8_t value)
{
    m_bytes.push_back(value);
}

void ArchiveWriter::WriteU16(uint16_t value)
{
    m_bytes.push_back(static_cast<uint8_t>(value));
    m_bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void ArchiveWriter::WriteU32(uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        m_bytes.push_back(static_cast<uint8_t>(value >> shift));
}

void ArchiveWriter::WriteBytes(const uint8_t* data, std::size_t size)
{
    m_bytes.insert(m_bytes.end(), data, data + size);
}

void ArchiveWriter::WriteString(const std::u16string& text)
{
    if (text.size() >= 0xFFFFFFFFu)
        throw std::length_error("string too long for the archive");
    const auto length = static_cast<uint32_t>(text.size());
    WriteU8(0xFF);
    WriteU16(0xFFFE);
    if (length < 0xFF) {
        WriteU8(static_cast<uint8_t>(length));
    } else if (length < 0xFFFE) {
        WriteU8(0xFF);
        WriteU16(static_cast<uint16_t>(length));
    } else {
        WriteU8(0xFF);
        WriteU16(0xFFFF);
        WriteU32(length);
    }
    for (char16_t unit : text)
        WriteU16(unit);
}

void ArchiveWriter::WriteCount(uint32_t count)
{
    if (count < 0xFFFF) {
        WriteU16(static_cast<uint16_t>(count));
    } else {
        WriteU16(0xFFFF);
        WriteU32(count);
    }
}

void ArchiveWriter::WriteNullObject()
{
    WriteU16(kNullTag);
}

void ArchiveWriter::WriteIndexTag(uint32_t index, bool isClass)
{
    if (index < kBigObjectTag) {
        WriteU16(static_cast<uint16_t>(isClass ? (kClassTag | index) : index));
    } else {
        WriteU16(kBigObjectTag);
        WriteU32(isClass ? (kBigClassTag | index) : index);
    }
}

bool ArchiveWriter::WriteObjectTag(const void* object, const std::string& className, uint16_t schema)
{
    if (object) {
        auto seen = m_objectIndex.find(object);
        if (seen != m_objectIndex.end()) {
            WriteIndexTag(seen->second, false);
            return false;
        }
    }
    auto known = m_classIndex.find(className);
    if (known != m_classIndex.end()) {
        WriteIndexTag(known->second, true);
    } else {
        if (className.size() > kMaxClassNameLength)
            throw std::length_error("class name too long for the archive");
        WriteU16(kNewClassTag);
        WriteU16(schema);
        WriteU16(static_cast<uint16_t>(className.size()));
        WriteBytes(reinterpret_cast<const uint8_t*>(className.data()), className.size());
        m_classIndex.emplace(className, m_mapCount++);
    }
    // The object takes its index before its body, so nested objects come later.
    const uint32_t objectIndex = m_mapCount++;
    if (object)
        m_objectIndex.emplace(object, objectIndex);
    return true;
}

// ---------------------------------------------------------------- reader

ArchiveReader::ArchiveReader(const uint8_t* data, std::size_t size)
    : m_data(data), m_size(data ? size : 0)
{
}

ArchiveReader::ArchiveReader(const std::vector<uint8_t>& bytes)
    : ArchiveReader(bytes.data(), bytes.size())
{
}

void ArchiveReader::ThrowEndOfFile()
{
    throw ArchiveException(ArchiveException::EndOfFile, "unexpected end of archive");
}

void ArchiveReader::ReadBytes(uint8_t* out, std::size_t size)
{
    Need(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = m_data[m_position + i];
    m_position += size;
}

std::u16string ArchiveReader::ReadString()
{
    bool unicode = false;
    uint32_t length = ReadU8();
    if (length == 0xFF) {
        uint16_t word = ReadU16();
        if (word == 0xFFFE) {
            unicode = true;
            length = ReadU8();
            if (length == 0xFF)
                word = ReadU16();
        }
        if (length == 0xFF) {
            if (word < 0xFFFF) {
                length = word;
            } else {
                length = ReadU32();
                // The 64-bit form cannot describe a string of a settings file.
                if (length == 0xFFFFFFFFu)
                    throw ArchiveException(ArchiveException::BadCount, "string length out of range");
            }
        }
    }
    const std::size_t unitSize = unicode ? 2 : 1;
    if (length > Remaining() / unitSize)
        throw ArchiveException(ArchiveException::EndOfFile, "string runs past the end of the archive");

    std::u16string text;
    text.resize(length);
    if (unicode) {
        for (uint32_t i = 0; i < length; ++i)
            text[i] = static_cast<char16_t>(m_data[m_position + 2 * i] | (m_data[m_position + 2 * i + 1] << 8));
    } else {
        for (uint32_t i = 0; i < length; ++i) {
            uint8_t byte = m_data[m_position + i];
            text[i] = (byte >= 0x80 && byte < 0xA0) ? kWindows1252High[byte - 0x80] : char16_t(byte);
        }
    }
    m_position += length * unitSize;
    return text;
}

uint32_t ArchiveReader::ReadCount(std::size_t minimumElementSize)
{
    uint32_t count = ReadU16();
    if (count == 0xFFFF)
        count = ReadU32();
    if (minimumElementSize == 0)
        minimumElementSize = 1;
    if (count > Remaining() / minimumElementSize)
        throw ArchiveException(ArchiveException::BadCount, "count exceeds the bytes left");
    return count;
}

bool ArchiveReader::ReadObjectTag(const std::string& className, uint16_t schema)
{
    const uint16_t word = ReadU16();
    uint32_t tag;
    if (word == kBigObjectTag)
        tag = ReadU32();
    else
        tag = (static_cast<uint32_t>(word & kClassTag) << 16) | (word & ~kClassTag & 0xFFFFu);

    if (!(tag & kBigClassTag)) {
        if (tag == kNullTag)
            return false;
        throw ArchiveException(ArchiveException::BadIndex, "object back-reference where a new object is expected");
    }

    if (word == kNewClassTag) {
        const uint16_t readSchema = ReadU16();
        const uint16_t nameLength = ReadU16();
        if (nameLength > kMaxClassNameLength)
            throw ArchiveException(ArchiveException::BadClass, "class name too long");
        Need(nameLength);
        std::string name(reinterpret_cast<const char*>(m_data + m_position), nameLength);
        m_position += nameLength;
        if (name != className)
            throw ArchiveException(ArchiveException::BadClass, "unexpected class " + name);
        if (readSchema != schema)
            throw ArchiveException(ArchiveException::BadSchema, "unexpected schema of " + name);
        m_classNames.push_back(name);
        m_map.push_back(static_cast<int32_t>(m_classNames.size() - 1));
    } else {
        const uint32_t index = tag & ~kBigClassTag;
        if (index == 0 || index >= m_map.size() || m_map[index] < 0)
            throw ArchiveException(ArchiveException::BadIndex, "class tag names no class");
        // A class is registered only after its name and schema were accepted.
        if (m_classNames[static_cast<std::size_t>(m_map[index])] != className)
            throw ArchiveException(ArchiveException::BadClass, "unexpected class " + m_classNames[static_cast<std::size_t>(m_map[index])]);
    }
    m_map.push_back(-1);
    return true;
}

} // namespace platform
