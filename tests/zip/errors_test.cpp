#include "errors.h"

#include <gtest/gtest.h>

using namespace zip;

namespace {
struct Named : TComponent {
    explicit Named(const std::u16string& n) { Name = n; }
};
}  // namespace

// The component's name leads the text when it has one; arguments are formatted into the table's
// texts; unknown codes still make an error.
TEST(ZipErrors, FormattedTexts)
{
    Named archiver(u"Archiver"), unnamed(u"");
    EXPECT_EQ(EZipException::CreateNativeFmt(12, &archiver, {std::u16string(u"/tmp/t€st.kmz")}).Message,
              "Archiver: File \"/tmp/t\xE2\x82\xACst.kmz\" not found - Native error: 00012");
    EXPECT_EQ(EZipException::CreateNative(5, &unnamed).Message,
              "Invalid compression mode. Mode must be in [0-9] range - Native error: 00005");
    EXPECT_EQ(EZipException::CreateNativeFmt(34, nullptr, {std::int64_t{5000000000}, std::int64_t{-1}}).Message,
              "Invalid compressed size, rfs.size = 5000000000, count = -1 - Native error: 00034");
    const EZipException tooLong = EZipException::CreateNativeFmt(61, nullptr, {std::u16string(300, u'n')});
    EXPECT_EQ(tooLong.Message, "File name is too long: \r\n\"" + std::string(300, 'n') + "\" - Native error: 00061");
    EXPECT_EQ(tooLong.ErrorCode, 36);
    const EZipException unknown = EZipException::CreateNative(99, nullptr);
    EXPECT_EQ(unknown.Message, "Unknown error - Native error: 00099");
    EXPECT_EQ(unknown.ErrorCode, 0);
    EXPECT_EQ(ZipFormat("%.3u|%.2d|%5d|%-3s|%%|%s|%x", {std::int64_t{7}, std::int64_t{4}, std::int64_t{13},
                                                       std::u16string(u"a")}),
              "007|04|   13|a  |%||%x");
}
