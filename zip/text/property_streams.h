// The part of a form framework's property streaming that the wide lists need: an object defines
// its own streamed properties on a filer, a writer stores those that have data and a reader hands
// each stored value back to the property's reader. Values are strings (bytes, UTF-16 or UTF-8)
// and lists of them.
//
// Layout: an object is its properties, then a zero byte. A property is its name (one length byte,
// 1..255, and the bytes) and one value: a type byte, then for a string a 32-bit little-endian
// count (bytes, or UTF-16 units) and the data, for a list its values up to a vaNull.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "text/streams.h"

namespace zip {

enum class TValueType : std::uint8_t { vaNull = 0, vaList = 1, vaString = 2, vaWString = 3, vaUTF8String = 4 };

// A stored object that cannot be read: damaged data, a value of the wrong type, an unknown
// property.
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class TReader;
class TWriter;

class TFiler {
public:
    using TReaderProc = std::function<void(TReader&)>;
    using TWriterProc = std::function<void(TWriter&)>;

    virtual ~TFiler() = default;
    // The property's value is read by readData; it is written by writeData when hasData.
    virtual void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                                bool hasData) = 0;
};

// An object with streamed properties.
class TPersistent {
public:
    virtual ~TPersistent() = default;
    virtual void DefineProperties(TFiler& /*filer*/) {}
};

class TWriter : public TFiler {
public:
    explicit TWriter(TStream& stream) : stream_(stream) {}
    // The object's properties that have data, then the end of the object.
    void WriteProperties(TPersistent& object);
    void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                        bool hasData) override;

    void WriteListBegin();
    void WriteListEnd();
    void WriteString(const std::string& s);  // bytes
    void WriteWideString(const std::u16string& s);
    void WriteUTF8String(const std::string& s);

private:
    void WriteValue(TValueType type, const void* data, std::uint32_t count, std::size_t unitSize);

    TStream& stream_;
};

class TReader : public TFiler {
public:
    explicit TReader(TStream& stream) : stream_(stream) {}
    // Reads properties up to the end of the object; each goes to the reader that the object
    // defines for its name (names match without regard to case). A name the object does not
    // define raises EReadError.
    void ReadProperties(TPersistent& object);
    void DefineProperty(const std::string& name, const TReaderProc& readData, const TWriterProc& writeData,
                        bool hasData) override;

    TValueType NextValue();
    void ReadListBegin();
    bool EndOfList();
    void ReadListEnd();
    // Any string value: a byte string as it is stored, the others in the system code page.
    std::string ReadString();
    // Any string value: a byte string from the system code page, UTF-8 decoded.
    std::u16string ReadWideString();

    // The object being read belongs to a root that is being designed, not run.
    bool RootDesigning = false;

private:
    TValueType ReadValueType();
    void ReadStringValue(TValueType type, std::string& bytes, std::u16string& wide);

    TStream& stream_;
    std::string property_;  // the name being read, until a reader takes it
};

}  // namespace zip
