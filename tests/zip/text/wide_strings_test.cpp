#include "text/wide_strings.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include "test_util.h"
#include "text/code_pages.h"
#include "text/wide_text.h"

using namespace zip;

namespace {

// Decodes UTF-7 with the C library as an independent reader.
std::u16string IconvFromUtf7(const std::string& s) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-7");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(s.size() * 4 + 8, '\0');
    char* in = const_cast<char*>(s.data());
    std::size_t inLeft = s.size(), outLeft = out.size();
    char* o = out.data();
    EXPECT_NE(iconv(cd, &in, &inLeft, &o, &outLeft), static_cast<std::size_t>(-1));
    iconv_close(cd);
    std::u16string w((out.size() - outLeft) / 2, u'\0');
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                                     (static_cast<unsigned char>(out[2 * i + 1]) << 8));
    return w;
}

std::vector<std::u16string> Lines(const TUniStrings& l) {
    std::vector<std::u16string> v;
    for (int i = 0; i < l.Count(); ++i) v.push_back(l[i]);
    return v;
}

TMemoryStream StreamOf(const std::string& bytes) {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    s.SetPosition(0);
    return s;
}

}  // namespace

TEST(Utf7, Rfc2152Examples) {
    struct Case {
        std::u16string text;
        std::string rfc;      // the form RFC 2152 prints
        std::string encoded;  // ours: no closing dash at the end of the text
    };
    const Case cases[] = {
        {u"A\u2262\u0391.", "A+ImIDkQ.", "A+ImIDkQ."},
        {u"Hi Mom -\u263A-!", "Hi Mom -+Jjo--!", "Hi Mom -+Jjo--!"},
        {u"\u65E5\u672C\u8A9E", "+ZeVnLIqe-", "+ZeVnLIqe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(StringToWideStringEx(c.rfc, CP_UTF7), c.text);
        EXPECT_EQ(WideStringToStringEx(c.text, CP_UTF7), c.encoded);
        EXPECT_EQ(IconvFromUtf7(c.encoded), c.text);
        EXPECT_EQ(IconvFromUtf7(c.rfc), c.text);
    }
    EXPECT_EQ(WideStringToStringEx(u"A+B", CP_UTF7), "A+-B");
    EXPECT_EQ(StringToWideStringEx("A+-B", CP_UTF7), u"A+B");
}

TEST(Utf7, VerboseSafeAndInvalidInput) {
    std::string buf(64, '\0');
    std::size_t n = 0;
    const std::u16string text = u"\u263A!~";
    EXPECT_EQ(ConvertWideToUTF7(text, buf, n, true, false), utf7Ok);
    EXPECT_EQ(buf.substr(0, n), "+JjoAIQB+-");
    EXPECT_EQ(IconvFromUtf7(buf.substr(0, n)), text);
    EXPECT_EQ(ConvertWideToUTF7(text, std::span(buf.data(), 3), n, true, false), utf7TargetFull);

    EXPECT_THROW(UTF7ToWideString("+"), EUniGeneralError);  // a run that yields nothing
    EXPECT_THROW(UTF7ToWideString("a+!"), EUniGeneralError);
    EXPECT_THROW(UTF7ToWideString("+ZeVnLIqeB-"), EUniGeneralError);  // leftover bits not zero
    EXPECT_THROW(UTF7ToWideString("\xE2\x82\xAC"), EUniGeneralError);
}

TEST(CodePages, AnsiOemUtf8AndSwaps) {
    EXPECT_EQ(WideStringToStringEx(u"\u20ACd\u00E9\u65E5", CP_ACP),
              "\x80"
              "d\xE9?");
    EXPECT_EQ(StringToWideStringEx("\x80"
                                   "d\xE9\x81",
                                   1252),
              u"\u20ACd\u00E9\u0081");
    EXPECT_EQ(WideStringToStringEx(u"\u0081", 1252), "\x81");
    EXPECT_EQ(WideStringToStringEx(u"\u00E9\u2500", CP_OEMCP), "\x82\xC4");
    EXPECT_EQ(StringToWideStringEx("\x82\xC4", 437), u"\u00E9\u2500");
    EXPECT_EQ(WideStringToStringEx(u"\U0001F600x", 1252), "?x");  // one "?" for the whole pair
    EXPECT_EQ(StringToWideStringEx("\x93\xFA\x96\x7B", 932), u"\u65E5\u672C");
    EXPECT_EQ(StringToWideStringEx("x", 4242424), u"");  // no such code page
    std::u16string s = {char16_t(0x4100), 0, char16_t(0x4200)};
    SwapWideByteOrder(s);
    EXPECT_EQ(s, (std::u16string{u'A', 0, u'B'}));
}

TEST(UniStrings, LoadWithSignatures) {
    TUniStringList l;
    auto load = [&](const std::string& bytes) {
        TMemoryStream s = StreamOf(bytes);
        l.LoadFromStream(s);
        return Lines(l);
    };
    using V = std::vector<std::u16string>;
    EXPECT_EQ(load(std::string("\xFE\xFF\x00\x41", 4)), V{u"A"});
    load(std::string("\xFE\xFF\x00\x41\x00\x00\x00\x42", 8));
    EXPECT_EQ(l.GetText(), std::u16string(u"A") + u'\0' + u"B\n");  // swapped past the NUL
    EXPECT_EQ(load(std::string("\xFF\xFE"
                               "a\0\r\0\n\0b\0",
                               10)),
              (V{u"a", u"b"}));
    EXPECT_EQ(load("\xEF\xBB\xBF\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), V{u"\u65E5\u672C\u8A9E"});
    EXPECT_EQ(load("\xE9"), V{u"\u00E9"});
    TMemoryStream plain = StreamOf("x\ry\n\nz");
    EXPECT_EQ(DetectWideCharSet(plain), csBytes);
    EXPECT_EQ(plain.Position(), 0);
    EXPECT_EQ(load("x\ry\n\nz"), (V{u"x", u"y", u"", u"z"}));
    // Without signature detection the bytes are UTF-16LE, an odd last byte dropped.
    TMemoryStream raw = StreamOf(std::string("h\0i\0!", 5));
    l.LoadFromStreamBOM(raw, false);
    EXPECT_EQ(Lines(l), V{u"hi"});
}

TEST(UniStrings, SaveAndFiles) {
    TUniStringList l;
    TMemoryStream empty;
    l.SaveToStream(empty);
    EXPECT_EQ(empty.Data(), (std::vector<std::uint8_t>{0xFF, 0xFE}));

    ziptest::TempDir dir;
    l.Add(u"Zoë");
    l.Add(u"\u65E5");
    l.SaveToFile(dir.wide() + u"list.txt");
    TUniStringList back;
    back.LoadFromFile(dir.wide() + u"list.txt");
    EXPECT_EQ(Lines(back), Lines(l));

    TMemoryStream ansi;
    l.AnsiStrings().SaveToStreamEx(ansi, CP_ACP);
    EXPECT_EQ(std::string(ansi.Data().begin(), ansi.Data().end()), "Zo\xEB\n?\n");
    ansi.SetPosition(0);
    TUniStringList fromAnsi;
    fromAnsi.AnsiStrings().LoadFromStreamEx(ansi, 1252);
    EXPECT_EQ(Lines(fromAnsi), (std::vector<std::u16string>{u"Zoë", u"?"}));
    l.AnsiStrings().CodePage = CP_UTF8;
    EXPECT_EQ(l.AnsiStrings().Get(1), "\xE6\x97\xA5");
    l.AnsiStrings().Put(1, "\xC3\xA9");
    EXPECT_EQ(l[1], u"é");
}

TEST(UniStringList, SortedFindDuplicatesAndNames) {
    TUniStringList l;
    l.SetSorted(true);
    EXPECT_EQ(l.Add(u"b"), 0);
    EXPECT_EQ(l.Add(u"a"), 0);
    EXPECT_EQ(l.Add(u"B"), 1);  // ignored duplicate (case-insensitive): its index
    EXPECT_EQ(l.Count(), 2);
    l.Duplicates = dupError;
    EXPECT_THROW(l.Add(u"a"), EStringListError);
    EXPECT_THROW(l.Put(0, u"z"), EStringListError);

    TUniStringList eq;
    eq.Duplicates = dupAccept;
    eq.SetSorted(true);
    for (int i = 0; i < 3; ++i) eq.Add(u"x");
    int index = -1;
    EXPECT_TRUE(eq.Find(u"x", index));
    EXPECT_EQ(index, 0);
    EXPECT_FALSE(eq.Find(u"y", index));
    EXPECT_EQ(index, 3);

    TUniStringList cs;
    cs.SetCaseSensitive(true);
    cs.SetSorted(true);
    cs.Add(u"b");
    cs.Add(u"B");
    EXPECT_EQ(Lines(cs), (std::vector<std::u16string>{u"B", u"b"}));

    TUniStringList n;
    int changes = 0;
    n.OnChange = [&](TUniStringList&) { ++changes; };
    n.BeginUpdate();
    for (const char16_t* s : {u"k2=v2", u"K1=v1", u"x"}) n.Add(s);
    n.EndUpdate();
    EXPECT_EQ(changes, 1);  // one for the whole update
    EXPECT_EQ(n.IndexOfName(u"k1"), 1);
    EXPECT_EQ(n.IndexOfName(u"x"), -1);
    EXPECT_THROW(n.Get(3), EStringListError);
    EXPECT_THROW(n.Insert(4, u"z"), EStringListError);
}

// An update announces its changing when it begins and its change when it ends, once each however
// deep it nests and however much it does.
TEST(UniStringList, UpdateNotifiesOnceEachWay) {
    TUniStringList l;
    std::string events;
    l.OnChanging = [&](TUniStringList& list) { events += "<" + std::to_string(list.Count()); };
    l.OnChange = [&](TUniStringList& list) { events += ">" + std::to_string(list.Count()); };
    l.BeginUpdate();
    l.BeginUpdate();
    l.Add(u"a");
    l.EndUpdate();
    l.Add(u"b");
    l.EndUpdate();
    EXPECT_EQ(events, "<0>2");
    events.clear();
    l.SetText(u"x\ny\nz");  // an update of its own
    EXPECT_EQ(events, "<2>3");
}

TEST(UniStringList, CustomSortAndExchange) {
    TUniStringList l;
    for (const char16_t* s : {u"pear", u"Apple", u"fig", u"banana", u"apple"}) l.Add(s);
    l.CustomSort([](TUniStringList& list, int a, int b) {
        return static_cast<int>(list[a].size()) - static_cast<int>(list[b].size());
    });
    EXPECT_EQ(l[0], u"fig");
    EXPECT_EQ(l[4], u"banana");
    int x = 7;
    l.PutObject(0, &x);
    l.Exchange(0, 4);
    EXPECT_EQ(l.GetObject(4), &x);
    // A compare that always says "less" must not run off the list.
    l.CustomSort([](TUniStringList&, int, int) { return -1; });
    EXPECT_EQ(l.Count(), 5);
}
