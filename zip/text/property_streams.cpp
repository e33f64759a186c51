#include "text/property_streams.h"

#include "text/code_pages.h"
#include "text/wide_text.h"

namespace zip {

namespace {

// Reads exactly count bytes, never past the end of the stream.
void ReadExact(TStream& stream, void* buffer, std::int64_t count) {
    if (count < 0 || stream.Size() - stream.Position() < count) throw EReadError("Stream read error");
    stream.ReadBuffer(buffer, count);
}

std::uint32_t ReadCount(TStream& stream) {
    std::uint8_t b[4];
    ReadExact(stream, b, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint32_t Count32(std::size_t n) {
    if (n > 0xFFFFFFFFu) throw EStreamError("Stream write error");
    return static_cast<std::uint32_t>(n);
}

bool EqualNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        const char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

// --- TWriter --------------------------------------------------------------------------------------

void TWriter::WriteProperties(TPersistent& object) {
    object.DefineProperties(*this);
    const std::uint8_t end = 0;
    stream_.WriteBuffer(&end, 1);
}

void TWriter::DefineProperty(const std::string& name, const TReaderProc&, const TWriterProc& writeData, bool hasData) {
    if (!hasData || !writeData || name.empty() || name.size() > 255) return;
    const std::uint8_t length = static_cast<std::uint8_t>(name.size());
    stream_.WriteBuffer(&length, 1);
    stream_.WriteBuffer(name.data(), length);
    writeData(*this);
}

void TWriter::WriteListBegin() {
    const TValueType type = TValueType::vaList;
    stream_.WriteBuffer(&type, 1);
}

void TWriter::WriteListEnd() {
    const TValueType type = TValueType::vaNull;
    stream_.WriteBuffer(&type, 1);
}

void TWriter::WriteValue(TValueType type, const void* data, std::uint32_t count, std::size_t unitSize) {
    const std::uint8_t head[5] = {static_cast<std::uint8_t>(type), static_cast<std::uint8_t>(count),
                                  static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count >> 16),
                                  static_cast<std::uint8_t>(count >> 24)};
    stream_.WriteBuffer(head, 5);
    stream_.WriteBuffer(data, static_cast<std::int64_t>(count * unitSize));
}

void TWriter::WriteString(const std::string& s) { WriteValue(TValueType::vaString, s.data(), Count32(s.size()), 1); }

void TWriter::WriteUTF8String(const std::string& s) {
    WriteValue(TValueType::vaUTF8String, s.data(), Count32(s.size()), 1);
}

void TWriter::WriteWideString(const std::u16string& s) {
    const std::uint32_t count = Count32(s.size());
    std::string bytes(s.size() * 2, '\0');
    for (std::size_t i = 0; i < s.size(); ++i) {
        bytes[2 * i] = static_cast<char>(s[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(s[i] >> 8);
    }
    WriteValue(TValueType::vaWString, bytes.data(), count, 2);
}

// --- TReader --------------------------------------------------------------------------------------

void TReader::ReadProperties(TPersistent& object) {
    for (;;) {
        std::uint8_t length = 0;
        ReadExact(stream_, &length, 1);
        if (length == 0) return;
        property_.assign(length, '\0');
        ReadExact(stream_, property_.data(), length);
        const std::string name = property_;
        object.DefineProperties(*this);
        if (!property_.empty()) {
            property_.clear();
            throw EReadError("Property " + name + " does not exist");
        }
    }
}

void TReader::DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc&, bool) {
    if (property_.empty() || !readData || !EqualNoCase(name, property_)) return;
    property_.clear();  // taken: later definitions of the same name do not read again
    readData(*this);
}

TValueType TReader::ReadValueType() {
    std::uint8_t type = 0;
    ReadExact(stream_, &type, 1);
    if (type > static_cast<std::uint8_t>(TValueType::vaUTF8String)) throw EReadError("Invalid property value");
    return static_cast<TValueType>(type);
}

TValueType TReader::NextValue() {
    const TValueType type = ReadValueType();
    stream_.Seek(-1, TSeekOrigin::soCurrent);
    return type;
}

void TReader::ReadListBegin() {
    if (ReadValueType() != TValueType::vaList) throw EReadError("Invalid property value");
}

bool TReader::EndOfList() { return NextValue() == TValueType::vaNull; }

void TReader::ReadListEnd() {
    if (ReadValueType() != TValueType::vaNull) throw EReadError("Invalid property value");
}

void TReader::ReadStringValue(TValueType type, std::string& bytes, std::u16string& wide) {
    const std::uint32_t count = ReadCount(stream_);
    switch (type) {
    case TValueType::vaString:
    case TValueType::vaUTF8String:
        // The count is checked against what the stream holds before anything is allocated.
        if (stream_.Size() - stream_.Position() < count) throw EReadError("Stream read error");
        bytes.assign(count, '\0');
        ReadExact(stream_, bytes.data(), count);
        return;
    case TValueType::vaWString: {
        if ((stream_.Size() - stream_.Position()) / 2 < count) throw EReadError("Stream read error");
        std::string raw(static_cast<std::size_t>(count) * 2, '\0');
        ReadExact(stream_, raw.data(), static_cast<std::int64_t>(raw.size()));
        wide.assign(count, u'\0');
        for (std::size_t i = 0; i < count; ++i)
            wide[i] = static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                            (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
        return;
    }
    default: throw EReadError("Invalid property value");
    }
}

std::string TReader::ReadString() {
    const TValueType type = ReadValueType();
    std::string bytes;
    std::u16string wide;
    ReadStringValue(type, bytes, wide);
    if (type == TValueType::vaWString) return WideStringToStringEx(wide, CP_ACP);
    if (type == TValueType::vaUTF8String) return WideStringToStringEx(UTF8DecodeWide(bytes), CP_ACP);
    return bytes;
}

std::u16string TReader::ReadWideString() {
    const TValueType type = ReadValueType();
    std::string bytes;
    std::u16string wide;
    ReadStringValue(type, bytes, wide);
    if (type == TValueType::vaString) return StringToWideStringEx(bytes, CP_ACP);
    if (type == TValueType::vaUTF8String) return UTF8DecodeWide(bytes);
    return wide;
}

}  // namespace zip
