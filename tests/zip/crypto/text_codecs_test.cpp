#include "crypto/text_codecs.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

using namespace zip;

namespace {

std::string Bytes(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s += static_cast<char>(b);
    return s;
}

}  // namespace

// Either case reads back; prefixes are skipped; the first separator restarts the output, later
// ones are skipped; an odd last digit is dropped.
TEST(StringFormatHex, CasesPrefixesSeparatorsAndOddDigits) {
    const std::string two = Bytes({0x1F, 0xA0});
    EXPECT_EQ(BinaryToFormattedText(two, fmtHEX), "1FA0");
    EXPECT_EQ(BinaryToFormattedText(two, fmtHEXL), "1fa0");
    EXPECT_EQ(FormattedTextToBinary("1fa0", fmtHEX), two);
    EXPECT_EQ(FormattedTextToBinary("1FA0", fmtHEXL), two);
    const std::string all = ziptest::Random(256, 1);
    EXPECT_EQ(FormattedTextToBinary(BinaryToFormattedText(all, fmtHEX), fmtHEX), all);
    EXPECT_EQ(FormattedTextToBinary("$1FA0", fmtHEX), two);
    EXPECT_EQ(FormattedTextToBinary("0X1fa0", fmtHEXL), two);
    EXPECT_EQ(FormattedTextToBinary("1F A0", fmtHEX), Bytes({0xA0}));
    EXPECT_EQ(FormattedTextToBinary("$1F A0", fmtHEX), Bytes({0x1F, 0xA0}));
    EXPECT_EQ(FormattedTextToBinary("1FA", fmtHEX), Bytes({0x1F}));
    // Characters outside the table are rejected before decoding, and skipped by the decoder.
    EXPECT_THROW(FormattedTextToBinary("1FG0", fmtHEX), EStringFormat);
    EXPECT_EQ(TStringFormatHex::Instance().TextToBytes("1FG0", 4), Bytes({0x1F}));
}

TEST(StringFormatBase64, Rfc4648VectorsWrappedTextAndOutsideTool) {
    const char* plain[] = {"f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(BinaryToFormattedText(plain[i], -1, fmtMIME64), coded[i]);
        EXPECT_EQ(FormattedTextToBinary(coded[i], -1, fmtMIME64), plain[i]);
    }
    // Missing padding is supplied.
    EXPECT_EQ(FormattedTextToBinary("Zg", fmtMIME64), "f");
    EXPECT_EQ(FormattedTextToBinary("Zm9vYmE", fmtMIME64), "fooba");
    EXPECT_EQ(BinaryToFormattedText(Bytes({0xFB, 0xFF}), fmtMIME64), "+/8=");

    const std::string data = ziptest::Random(1000, 2);
    const std::string text = BinaryToFormattedText(data, -1);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    // Line breaks and blanks inside the text are skipped.
    std::string wrapped;
    for (std::size_t i = 0; i < text.size(); i += 76) wrapped += text.substr(i, 76) + "\r\n ";
    EXPECT_EQ(FormattedTextToBinary(wrapped, fmtMIME64), data);
    if (ziptest::HaveTool("python3")) {
        const std::string hex = ziptest::Hex(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        EXPECT_EQ(ziptest::RunTool("python3 -c \"import base64,sys;sys.stdout.write(base64.b64encode(bytes.fromhex('" +
                                   hex + "')).decode())\""),
                  text);
    }
}

TEST(StringFormatUU, LinesOf45BytesAndOutsideTool) {
    const std::string data = ziptest::Random(46, 3);
    const std::string text = BinaryToFormattedText(data, fmtUU);
    // Length character "M" (45), 60 characters, then "!" (1) and 4 characters.
    ASSERT_EQ(text.size(), 1u + 60 + 1 + 4);
    EXPECT_EQ(text[0], 'M');
    EXPECT_EQ(text[61], '!');
    EXPECT_EQ(FormattedTextToBinary(text, fmtUU), data);
    if (ziptest::HaveTool("python3")) {
        const std::string hex = ziptest::Hex(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        auto uu = [&](const std::string& strip) {
            return ziptest::RunTool("python3 -c \"import binascii,sys;d=bytes.fromhex('" + hex +
                                    "');sys.stdout.write(''.join(binascii.b2a_uu(d[i:i+45],backtick=True).decode()" +
                                    strip + " for i in range(0,len(d),45)))\"");
        };
        EXPECT_EQ(uu(".strip('\\n')"), text);
        EXPECT_EQ(FormattedTextToBinary(uu(""), fmtUU), data);  // the tool's lines, with breaks, read back
    }
}

// Round trips of every format on any text are the text_formats fuzz harness's check.
TEST(StringFormatUU, XXAndCutText) {
    EXPECT_EQ(BinaryToFormattedText("Cat", -1, fmtXX), "1Eq3o");
    // A line cut short yields what its characters hold and reads nothing beyond the text.
    const std::string text = BinaryToFormattedText(std::string(45, 'x'), fmtUU);
    EXPECT_EQ(TStringFormatUU::Instance().TextToBytes(text.data(), 9), std::string(6, 'x'));
    EXPECT_EQ(TStringFormatUU::Instance().TextToBytes("M", 1), "");
    EXPECT_THROW(FormattedTextToBinary("1Eq3o~", fmtXX), EStringFormat);
}

TEST(StringFormatRegistry, CodesDefaultsErrorsAndReplacements) {
    EXPECT_EQ(FindStringFormat(-1), &TStringFormatBase64::Instance());
    EXPECT_EQ(FindStringFormat(7), nullptr);
    EXPECT_THROW(BinaryToFormattedText("ab", -1, 7), EStringFormat);
    EXPECT_THROW(FormattedTextToBinary("ab", -1, 7), EStringFormat);
    // Empty input gives empty text before the code is looked at; -1 stops at the first zero.
    EXPECT_EQ(BinaryToFormattedText("", -1, 7), "");
    EXPECT_EQ(BinaryToFormattedText("a\0b", -1, fmtHEX), "61");
    EXPECT_EQ(BinaryToFormattedText("a\0b", 3, fmtHEX), "610062");
    EXPECT_EQ(FormattedTextToBinary("\x01\xFF", fmtCOPY), "\x01\xFF");

    // A format registered under a known code replaces the old one.
    struct Shouting : TStringFormat {
        std::string BytesToText(const std::uint8_t*, std::size_t) const override { return "HEX!"; }
        int FormatCode() const override { return fmtHEX; }
    };
    struct Unlisted : TStringFormat {
        int FormatCode() const override { return -1; }
    };
    static const Shouting shouting;
    static const Unlisted unlisted;
    RegisterStringFormats({&shouting, &unlisted});
    EXPECT_EQ(BinaryToFormattedText("a", -1, fmtHEX), "HEX!");
    EXPECT_EQ(RegisteredStringFormats().size(), 6u);
    EXPECT_EQ(RegisteredStringFormats()[1], &shouting);
    RegisterStringFormats({&TStringFormatHex::Instance()});
    EXPECT_EQ(BinaryToFormattedText("a", -1, fmtHEX), "61");
}
