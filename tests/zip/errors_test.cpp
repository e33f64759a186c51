#include "errors.h"

#include <gtest/gtest.h>

using namespace zip;

namespace {
struct Named : TComponent {
    explicit Named(const std::u16string& n) { Name = n; }
};
}  // namespace

TEST(ZipErrors, MessageWithAndWithoutComponentName)
{
    Named archiver(u"Archiver");
    const EZipException e = EZipException::CreateNative(13, &archiver);
    EXPECT_EQ(std::string(e.what()), "Archiver: Archive is not open - Native error: 00013");
    EXPECT_EQ(e.ErrorCode, 7);
    EXPECT_EQ(e.NativeError, 13);

    const EZipException noName = EZipException::CreateNative(62, nullptr);
    EXPECT_EQ(noName.Message, "Multiple transactions are not supported for multi-volume archives - Native error: 00062");
    Named unnamed(u"");
    EXPECT_EQ(EZipException::CreateNative(5, &unnamed).Message,
              "Invalid compression mode. Mode must be in [0-9] range - Native error: 00005");
}

TEST(ZipErrors, FormattedTexts)
{
    Named archiver(u"Archiver");
    EXPECT_EQ(EZipException::CreateNativeFmt(12, &archiver, {std::u16string(u"/tmp/t€st.kmz")}).Message,
              "Archiver: File \"/tmp/t\xE2\x82\xACst.kmz\" not found - Native error: 00012");
    EXPECT_EQ(EZipException::CreateNativeFmt(34, nullptr, {std::int64_t{5000000000}, std::int64_t{-1}}).Message,
              "Invalid compressed size, rfs.size = 5000000000, count = -1 - Native error: 00034");
    const std::u16string longName(300, u'n');
    const EZipException tooLong = EZipException::CreateNativeFmt(61, nullptr, {longName});
    EXPECT_EQ(tooLong.Message, "File name is too long: \r\n\"" + std::string(300, 'n') + "\" - Native error: 00061");
    EXPECT_EQ(tooLong.ErrorCode, 36);
}

TEST(ZipErrors, CodeMapAndUnknownCodes)
{
    EXPECT_EQ(ZipErrorIndex(0), 0);
    EXPECT_EQ(ZipErrorIndex(24), 1);
    EXPECT_EQ(ZipErrorIndex(42), 6);
    EXPECT_EQ(ZipErrorIndex(57), 27);
    EXPECT_EQ(ZipErrorIndex(63), 0);
    EXPECT_EQ(ZipErrorIndex(-7), 0);
    const EZipException unknown = EZipException::CreateNative(99, nullptr);
    EXPECT_EQ(unknown.Message, "Unknown error - Native error: 00099");
    EXPECT_EQ(unknown.ErrorCode, 0);
    EXPECT_EQ(unknown.NativeError, 99);
    EXPECT_STREQ(ZipErrorText(38), "");
    EXPECT_STREQ(ZipErrorText(41), "");
}

TEST(ZipErrors, PromptsAndFormat)
{
    EXPECT_EQ(ZipFormat(ZipPromptText(TZipPrompt::OverwriteFile), {std::u16string(u"a"), std::u16string(u"b")}),
              "Overwrite file \"a\" with \"b\"");
    EXPECT_EQ(ZipFormat(ZipPromptText(TZipPrompt::InsertBlankDisk), {std::int64_t{3}}), "Please insert a blank disk #3");
    EXPECT_EQ(ZipFormat("%.3u|%.2d|%5d|%-3s|%%|%s|%x", {std::int64_t{7}, std::int64_t{4}, std::int64_t{13},
                                                       std::u16string(u"a")}),
              "007|04|   13|a  |%||%x");
}
