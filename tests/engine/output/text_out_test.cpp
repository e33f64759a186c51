#include "output/text_out.h"
#include "writer_test_util.h"

#include <random>

namespace ts {
namespace {

TEST(TextOut, FixedRoundingAndEdgeValues) {
    const double inf = std::numeric_limits<double>::infinity();
    // Halves round away from zero (0.15 is binary 0.1499999..., for which printf gives 0.1); no
    // "-0.0"; nothing that is not a number ever reaches a file; width pads with blanks like printf.
    const std::tuple<double, int, int, const char*> cases[] = {{2.5, 0, 0, "3"},
                                                               {-2.5, 0, 0, "-3"},
                                                               {0.125, 2, 0, "0.13"},
                                                               {0.15, 1, 0, "0.2"},
                                                               {1.005, 2, 0, "1.01"},
                                                               {9.96, 1, 0, "10.0"},
                                                               {999.9996, 3, 0, "1000.000"},
                                                               {0.00000005, 7, 0, "0.0000001"},
                                                               {0.00000004, 7, 0, "0.0000000"},
                                                               {139.12345675, 7, 0, "139.1234568"},
                                                               {-35.5, 0, 0, "-36"},
                                                               {0.0, 1, 0, "0.0"},
                                                               {-0.0, 1, 0, "0.0"},
                                                               {-0.04, 1, 0, "0.0"},
                                                               {12.0, 0, 0, "12"},
                                                               {1e20, 1, 0, "100000000000000000000.0"},
                                                               {1.5e-300, 3, 0, "0.000"},
                                                               {kNaN, 1, 0, "0.0"},
                                                               {inf, 3, 0, "0.000"},
                                                               {-inf, 2, 0, "0.00"},
                                                               {1.5, 1, 6, "   1.5"},
                                                               {-1.5, 1, 5, " -1.5"},
                                                               {123.456, 3, 5, "123.456"}};
    for (const auto& [v, decimals, width, text] : cases) EXPECT_EQ(FormatFixed(v, decimals, width), text) << v;
    EXPECT_EQ(FormatFixed(std::numeric_limits<double>::max(), 0).size(), 309u);
    std::string s;
    for (double v : {12.0, 7.5, 100.0, 0.04}) AppendFixedTrim(s, v, 1, 3), s += '|';
    EXPECT_EQ(s, "12|7.5|100|0|");
}

TEST(TextOut, FixedByArithmeticMatchesFixedByDigits) {
    // Coordinates, heights and speeds of every size, and decimal ties that arithmetic alone
    // would round the wrong way.
    std::mt19937_64 rng(15);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<std::pair<double, int>> cases;
    for (int i = 0; i < 200000; ++i) {
        const double scale = std::pow(10.0, static_cast<int>(rng() % 14) - 4);
        cases.emplace_back(unit(rng) * scale, static_cast<int>(rng() % 10));
    }
    for (int i = 0; i < 50000; ++i) {
        const int decimals = static_cast<int>(rng() % 9);
        const long long k = static_cast<long long>(rng() % 2000000) - 1000000;
        cases.emplace_back((static_cast<double>(k) + 0.5) / std::pow(10.0, decimals), decimals);
    }
    for (const auto& [v, decimals] : cases) {
        std::string fast, digits;
        AppendFixed(fast, v, decimals, 6);
        AppendFixedByDigits(digits, v, decimals, 6);
        ASSERT_EQ(fast, digits) << v << " with " << decimals;
    }
}

TEST(TextOut, XmlEscapingAndUtf8Repair) {
    EXPECT_EQ(XmlText("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(XmlText("caf\xC3\xA9"), "caf\xC3\xA9");  // valid UTF-8 stays
    EXPECT_EQ(XmlText("caf\xE9"), "caf\xC3\xA9");      // Windows-1252 byte becomes UTF-8
    EXPECT_EQ(XmlText("\x80"), "\xE2\x82\xAC");        // euro sign
    EXPECT_EQ(XmlText("a\x01"
                      "b\tc"),
              "ab\tc");                                                  // control character dropped
    EXPECT_EQ(XmlText("\xC0\xAF"), "\xC3\x80\xC2\xAF");                  // overlong form is not UTF-8
    EXPECT_EQ(XmlText("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // nor is a surrogate
    EXPECT_EQ(XmlText("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");          // four-byte form stays
    EXPECT_EQ(XmlText("\xE2\x82"), "\xC3\xA2\xE2\x80\x9A");              // cut-off sequence
    std::string c;
    AppendCDataText(c, "x]]>y<b>");
    EXPECT_EQ(c, "x]]]]><![CDATA[>y<b>");
}

}  // namespace
}  // namespace ts
