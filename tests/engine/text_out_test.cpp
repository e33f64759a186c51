#include "text_out.h"
#include "writer_test_util.h"

namespace ts {
namespace {

TEST(TextOut, FixedRoundsHalfAwayFromZero) {
    EXPECT_EQ(FormatFixed(2.5, 0), "3");
    EXPECT_EQ(FormatFixed(-2.5, 0), "-3");
    EXPECT_EQ(FormatFixed(0.125, 2), "0.13");
    EXPECT_EQ(FormatFixed(0.15, 1), "0.2");  // binary 0.1499999..., printf gives 0.1
    EXPECT_EQ(FormatFixed(1.005, 2), "1.01");
    EXPECT_EQ(FormatFixed(9.96, 1), "10.0");
    EXPECT_EQ(FormatFixed(999.9996, 3), "1000.000");
    EXPECT_EQ(FormatFixed(0.00000005, 7), "0.0000001");
    EXPECT_EQ(FormatFixed(0.00000004, 7), "0.0000000");
    EXPECT_EQ(FormatFixed(139.12345675, 7), "139.1234568");
    EXPECT_EQ(FormatFixed(-35.5, 0), "-36");
}

TEST(TextOut, FixedEdgeValues) {
    EXPECT_EQ(FormatFixed(0.0, 1), "0.0");
    EXPECT_EQ(FormatFixed(-0.0, 1), "0.0");
    EXPECT_EQ(FormatFixed(-0.04, 1), "0.0");  // no "-0.0"
    EXPECT_EQ(FormatFixed(12.0, 0), "12");
    EXPECT_EQ(FormatFixed(1e20, 1), "100000000000000000000.0");
    EXPECT_EQ(FormatFixed(1.5e-300, 3), "0.000");
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::max(), 0).size(), 309u);
    // Nothing that is not a number ever reaches a file.
    EXPECT_EQ(FormatFixed(std::nan(""), 1), "0.0");
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::infinity(), 3), "0.000");
    EXPECT_EQ(FormatFixed(-std::numeric_limits<double>::infinity(), 2), "0.00");
    // Width pads with blanks like printf.
    EXPECT_EQ(FormatFixed(1.5, 1, 6), "   1.5");
    EXPECT_EQ(FormatFixed(-1.5, 1, 5), " -1.5");
    EXPECT_EQ(FormatFixed(123.456, 3, 5), "123.456");
    std::string s;
    AppendFixedTrim(s, 12.0, 1, 3);
    s += '|';
    AppendFixedTrim(s, 7.5, 1, 3);
    s += '|';
    AppendFixedTrim(s, 100.0, 1, 3);
    s += '|';
    AppendFixedTrim(s, 0.04, 1, 3);
    EXPECT_EQ(s, "12|7.5|100|0");
}

TEST(TextOut, XmlEscapingAndUtf8Repair) {
    EXPECT_EQ(XmlText("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(XmlText("caf\xC3\xA9"), "caf\xC3\xA9");           // valid UTF-8 stays
    EXPECT_EQ(XmlText("caf\xE9"), "caf\xC3\xA9");               // Windows-1252 byte becomes UTF-8
    EXPECT_EQ(XmlText("\x80"), "\xE2\x82\xAC");                 // euro sign
    EXPECT_EQ(XmlText("a\x01" "b\tc"), "ab\tc");                // control character dropped
    EXPECT_EQ(XmlText("\xC0\xAF"), "\xC3\x80\xC2\xAF");         // overlong form is not UTF-8
    EXPECT_EQ(XmlText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // nor is a surrogate
    EXPECT_EQ(XmlText("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");  // four-byte form stays
    EXPECT_EQ(XmlText("\xE2\x82"), "\xC3\xA2\xE2\x80\x9A");     // cut-off sequence
    std::string c;
    AppendCDataText(c, "x]]>y<b>");
    EXPECT_EQ(c, "x]]]]><![CDATA[>y<b>");
}

}  // namespace
}  // namespace ts
