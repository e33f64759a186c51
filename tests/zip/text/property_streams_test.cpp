#include "text/property_streams.h"

#include <gtest/gtest.h>

#include "text/code_pages.h"
#include "text/wide_strings.h"

using namespace zip;

namespace {

// Stores whatever properties a test writes, as another program's forms would have stored them.
struct Stored : TPersistent {
    std::vector<std::pair<std::string, TFiler::TWriterProc>> properties;
    void DefineProperties(TFiler& filer) override {
        for (const auto& [name, write] : properties) filer.DefineProperty(name, nullptr, write, true);
    }
};

TFiler::TWriterProc Items(const std::vector<std::string>& items) {
    return [items](TWriter& w) {
        w.WriteListBegin();
        for (const std::string& s : items) w.WriteString(s);
        w.WriteListEnd();
    };
}

std::vector<std::u16string> Lines(const TUniStrings& l) {
    std::vector<std::u16string> v;
    for (int i = 0; i < l.Count(); ++i) v.push_back(l[i]);
    return v;
}

// Reads stream into list from the start, with the given flag and design state.
void ReadInto(TUniStrings& list, TMemoryStream& stream, bool unicodeProps, bool designing = false) {
    struct Flag {
        bool saved = ReaderUsesUnicodeProps;
        ~Flag() { ReaderUsesUnicodeProps = saved; }
    } flag;
    ReaderUsesUnicodeProps = unicodeProps;
    stream.SetPosition(0);
    TReader reader(stream);
    reader.RootDesigning = designing;
    reader.ReadProperties(list);
}

// Writes the properties of p into stream, replacing what it held.
void WriteFrom(TPersistent& p, TMemoryStream& stream) {
    stream.Clear();
    TWriter(stream).WriteProperties(p);
}

using V = std::vector<std::u16string>;

}  // namespace

TEST(PropertyStreams, ListsWriteUtf7AndReadItBack) {
    EXPECT_FALSE(ReaderUsesUnicodeProps);  // clear from the start
    TUniStringList list;
    const V items = {u"plain", u"", u"a+b", u"Zo\u00EB \u65E5\u672C", u"\U0001F600"};
    for (const auto& s : items) list.Add(s);
    TMemoryStream stream;
    WriteFrom(list, stream);
    const std::string bytes(stream.Data().begin(), stream.Data().end());
    EXPECT_EQ(bytes.substr(0, 16), "\x0FWideStringsUTF7");  // the one property written
    EXPECT_EQ(bytes.back(), '\0');

    TUniStringList back;
    ReadInto(back, stream, true);
    EXPECT_EQ(Lines(back), items);

    list.Clear();
    WriteFrom(list, stream);
    EXPECT_EQ(stream.Data(), std::vector<std::uint8_t>{0});  // an empty list writes nothing
}

TEST(PropertyStreams, UnicodeItemsDroppedUnlessWanted) {
    Stored stored;
    stored.properties = {{"WideStringsUTF7", Items({"+ZeU-"})}, {"WideStringsW", Items({"\xC3\xA9"})}};
    TMemoryStream stream;
    WriteFrom(stored, stream);
    TUniStringList list;
    ReadInto(list, stream, false);  // the flag clear: both dropped, even into an empty list
    EXPECT_EQ(Lines(list), V{});
    ReadInto(list, stream, true, true);  // designing: both dropped
    EXPECT_EQ(Lines(list), V{});
    list.SetText(u"old");
    ReadInto(list, stream, false);  // both dropped, and the stream read to its end
    EXPECT_EQ(Lines(list), V{u"old"});
    EXPECT_EQ(stream.Position(), stream.Size());
    ReadInto(list, stream, true, true);  // designing
    EXPECT_EQ(Lines(list), V{u"old"});
    ReadInto(list, stream, true);  // UTF-7 replaces the list; UTF-8 finds it no longer empty
    EXPECT_EQ(Lines(list), V{u"\u65E5"});
    stored.properties.pop_back();
    WriteFrom(stored, stream);
    ReadInto(list, stream, true);
    EXPECT_EQ(Lines(list), V{u"\u65E5"});
}

// UTF-8 items are taken only outside design, with the flag set, and into a list still empty.
TEST(PropertyStreams, Utf8ItemsOnlyIntoAnEmptyListWhenWanted) {
    Stored stored;
    stored.properties = {{"WideStringsW", Items({"\xC3\xA9", "x"})}};
    TMemoryStream stream;
    WriteFrom(stored, stream);
    for (const bool designing : {false, true}) {
        for (const bool flag : {false, true}) {
            SCOPED_TRACE(std::to_string(designing) + std::to_string(flag));
            TUniStringList list;
            ReadInto(list, stream, flag, designing);
            EXPECT_EQ(Lines(list), (flag && !designing ? V{u"\u00E9", u"x"} : V{}));
            EXPECT_EQ(stream.Position(), stream.Size());
        }
    }
    // Items read from "WideStrings" before them stay.
    stored.properties.insert(stored.properties.begin(), {"WideStrings", Items({"kept"})});
    WriteFrom(stored, stream);
    TUniStringList list;
    ReadInto(list, stream, true);
    EXPECT_EQ(Lines(list), V{u"kept"});
}

TEST(PropertyStreams, WideStringsTextOrItems) {
    Stored stored;
    stored.properties = {{"widestrings", [](TWriter& w) { w.WriteString("Zo\xEB\r\nx"); }}};
    TMemoryStream stream;
    WriteFrom(stored, stream);
    TUniStringList list;
    ReadInto(list, stream, false, true);  // taken whatever the state
    EXPECT_EQ(Lines(list), (V{u"Zo\u00EB", u"x"}));

    stored.properties = {{"WideStrings", [](TWriter& w) {
                              w.WriteListBegin();
                              w.WriteString("\xE9");
                              w.WriteWideString(u"\u65E5\nx");
                              w.WriteUTF8String("\xC3\xA9");
                              w.WriteListEnd();
                          }}};
    WriteFrom(stored, stream);
    ReadInto(list, stream, false);
    EXPECT_EQ(Lines(list), (V{u"\u00E9", u"\u65E5\nx", u"\u00E9"}));
}

TEST(PropertyStreams, DamagedOrForeignDataRaises) {
    TUniStringList list;
    auto read = [&](const std::string& bytes, bool unicodeProps = true) {
        TMemoryStream s;
        s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        ReadInto(list, s, unicodeProps);
    };
    EXPECT_THROW(read(std::string("\x05Other\x01\x00\x00", 9)), EReadError);
    EXPECT_THROW(read(std::string("\x0BWideStrings\x02\xFF\xFF\xFF\xFF", 17)), EReadError);      // count beyond the end
    EXPECT_THROW(read(std::string("\x0BWideStrings\x01\x07\x00\x00", 15)), EReadError);          // no such value type
    EXPECT_THROW(read(std::string("\x0BWideStrings\x00\x00", 13)), EReadError);                  // no string
    EXPECT_THROW(read(std::string("\x0BWideStrings\x01\x02\x01\x00\x00\x00", 17)), EReadError);  // cut short
    EXPECT_THROW(read(std::string("\x0FWideStringsUTF7\x01\x02\x02\x00\x00\x00+!\x00\x00", 26)), EUniGeneralError);
    EXPECT_NO_THROW(read(std::string("\x0FWideStringsUTF7\x01\x02\x02\x00\x00\x00+!\x00\x00", 26), false));
}
