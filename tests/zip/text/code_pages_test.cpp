// Every code page the layer knows by name, checked byte by byte against Python's codecs, whose
// tables follow the published ones.
#include "text/code_pages.h"

#include <sstream>

#include <gtest/gtest.h>

#include "zip_judges.h"

using namespace zip;

namespace {

// Python's view of each page: per byte "b BYTE CHARS ENCODED" (CHARS and ENCODED hex, "-" where
// the table has no character), and "s BYTES CHARS" for texts that must convert as a whole.
const char* kPythonTables = R"PY(
import sys, unicodedata
pages = {437: 'cp437', 1252: 'cp1252', 932: 'cp932', 950: 'cp950', 1255: 'cp1255', 1258: 'cp1258',
         10000: 'mac_roman', 20127: 'ascii', 20866: 'koi8_r', 21866: 'koi8_u', 28603: 'iso8859_13',
         28605: 'iso8859_15', 50220: 'iso2022_jp', 51932: 'euc_jp', 51949: 'euc_kr', 54936: 'gb18030',
         1200: 'utf_16_le', 1201: 'utf_16_be', 12000: 'utf_32_le', 12001: 'utf_32_be', 65001: 'utf_8'}
for i in range(1, 10):
    pages[28590 + i] = 'iso8859_%d' % i
def units(t):
    return t.encode('utf-16-be').hex() if t else '-'
for cp, name in sorted(pages.items()):
    print('page', cp)
    defined = []
    for b in range(256):
        try:
            t = bytes([b]).decode(name)
        except UnicodeDecodeError:
            print('b %02x - -' % b)
            continue
        print('b %02x %s %s' % (b, units(t), t.encode(name).hex() or '-'))
        if t:
            defined.append((b, t))
    # Each character after each combining mark of the page, and after each letter: no composing.
    marks = [b for b, t in defined if len(t) == 1 and unicodedata.combining(t)]
    if marks:
        seq = bytes(x for b, t in defined if b > 0x20 for m in marks for x in (b, m))
        print('s %s %s' % (seq.hex(), units(seq.decode(name))))
    # The double-byte block of CP950 that holds kana, Cyrillic and the enclosed numbers.
    if cp == 950:
        seq = b''
        for lead in (0xC6, 0xC7):
            for trail in list(range(0x40, 0x7F)) + list(range(0xA1, 0xFF)):
                try:
                    bytes([lead, trail]).decode(name)
                    seq += bytes([lead, trail])
                except UnicodeDecodeError:
                    pass
        print('s %s %s' % (seq.hex(), units(seq.decode(name))))
)PY";

// Bytes, or UTF-16 units, from hex ("-": none).
template <typename S = std::string>
S FromHex(const std::string& hex) {
    constexpr std::size_t w = 2 * sizeof(typename S::value_type);
    S out;
    for (std::size_t i = 0; i + w <= hex.size(); i += w)
        out += static_cast<typename S::value_type>(std::stoi(hex.substr(i, w), nullptr, 16));
    return out;
}

// Where two texts part (npos when they are equal), so that a failure names a place instead of
// printing thousands of characters.
constexpr std::size_t kSame = std::string::npos;
template <typename S>
std::size_t FirstDifference(const S& a, const S& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i == a.size() && i == b.size() ? kSame : i;
}

}  // namespace

TEST(CodePages, EveryByteOfEveryNamedPageAsPythonsTables) {
    std::string out;
    ASSERT_EQ(ziptest::Python(kPythonTables, {}, &out), 0) << out;
    std::istringstream lines(out);
    std::string kind;
    std::uint32_t cp = 0;
    int bytesChecked = 0, sequences = 0;
    while (lines >> kind) {
        if (kind == "page") {
            lines >> cp;
        } else if (kind == "b") {
            std::string byteHex, chars, encoded;
            lines >> byteHex >> chars >> encoded;
            const std::string byte = FromHex(byteHex);
            const std::u16string got = StringToWideStringEx(byte, cp);
            if (chars != "-") {
                const std::u16string want = FromHex<std::u16string>(chars);
                EXPECT_EQ(got, want) << "page " << cp << " byte " << byteHex;
                EXPECT_EQ(WideStringToStringEx(want, cp), FromHex(encoded))
                    << "page " << cp << " character of byte " << byteHex;
            } else {
                // No character in the table: the replacement character, or the C1 control of the
                // same value, which then converts back to the byte.
                const unsigned char b = static_cast<unsigned char>(byte[0]);
                const bool control = got.size() == 1 && got[0] == b && b >= 0x80 && b <= 0x9F;
                EXPECT_TRUE(got == u"\uFFFD" || control) << "page " << cp << " byte " << byteHex;
                if (control) {
                    EXPECT_EQ(WideStringToStringEx(got, cp), byte) << "page " << cp;
                }
            }
            ++bytesChecked;
        } else if (kind == "s") {
            std::string seqHex, chars;
            lines >> seqHex >> chars;
            const std::string seq = FromHex(seqHex);
            const std::u16string want = FromHex<std::u16string>(chars);
            const std::u16string got = StringToWideStringEx(seq, cp);
            EXPECT_EQ(FirstDifference(got, want), kSame) << "page " << cp << " text";
            EXPECT_EQ(FirstDifference(WideStringToStringEx(want, cp), seq), kSame) << "page " << cp << " text";
            ++sequences;
        }
    }
    EXPECT_EQ(bytesChecked, 30 * 256);
    EXPECT_EQ(sequences, 4);  // the marks of CP1255, CP1258 and ISO-8859-6, the CP950 block
}

// The characters iconv gives in place of the published ones are not taken as if they were.
TEST(CodePages, ReplacedCharactersAreNotInThePage) {
    EXPECT_EQ(WideStringToStringEx(u"\u0394", 10000), "?");  // Greek capital delta
    EXPECT_EQ(WideStringToStringEx(u"\uF6B5\u3041", 950), "?\xC6\xA5");
    EXPECT_EQ(WideStringToStringEx(u"\u1EA0", 1258), "?");  // only its decomposed form is
    EXPECT_EQ(WideStringToStringEx(u"A\u0323", 1258), "A\xF2");
    EXPECT_EQ(WideStringToStringEx(u"\U0001F600", 1255), "?");
    EXPECT_EQ(StringToWideStringEx("\x81\x80\x80", 932), u"\u00F7\u0080");  // a trail byte stays one
    EXPECT_EQ(StringToWideStringEx("\xB1\xC6", 2), u"\u00B1\u2206");        // the Mac page by its alias
}
