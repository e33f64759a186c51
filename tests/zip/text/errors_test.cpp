#include "text/errors.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "text/wide_files.h"

using namespace zip;

namespace {
struct Named : TComponent {
    explicit Named(const std::u16string& n) { Name = n; }
};
}  // namespace

// Every native code 0..62 with the text it selects; the index is the text's place in the table.
TEST(ZipErrors, EveryNativeCodeSelectsItsText) {
    const std::vector<std::pair<const char*, std::vector<int>>> table = {
        {"Unknown error", {0}},
        {"Index out of bounds", {1, 2, 3, 4, 7, 16, 21, 24}},
        {"Invalid compression mode. Mode must be in [0-9] range", {5}},
        {"Unexpected nil pointer", {6}},
        {"Invalid size or check sum of file or unsupported compression format", {8}},
        {"File name is blank. Specify appropriate file name", {9, 10, 29}},
        {"File \"%s\" not found", {11, 12, 15, 18, 30, 31, 38, 42, 53, 54}},
        {"Archive is not open", {13, 14}},
        {"SFXStub property is not specified", {17}},
        {"Cannot create file \"%s\"", {19, 23}},
        {"Cannot create directory \"%s\"", {20}},
        {"Internal error. Update is not started", {22, 25}},
        {"Cannot open file \"%s\"", {33}},
        {"Cannot proceed when update is not ended. Preceding EndUpdate call is required.", {26}},
        {"Cannot delete file \"%s\"", {27}},
        {"In-memory archive can be created only", {28}},
        {"File is open in read-only mode", {32}},
        {"Invalid compressed size, rfs.size = %d, count = %d", {34}},
        {"Invalid archive file.", {35}},
        {"Cannot create output file. Probably file is locked by another process. FileName = '%s'.", {36}},
        {"Archive is open. You should close it beore performing this operation.", {37}},
        {"Unable to create directory", {39}},
        {"Cannot find Zip64 directory end record", {40}},
        {"Cannot compress file '%s'. Zip64 mode is not enabled", {41, 43}},
        {"Cannot open archive file. Opening aborted or invalid file", {44, 45}},
        {"Write to stream error", {46}},
        {"Cannot place SFX stub on volume. Volume size limit is too small", {47}},
        {"Archive is damaged. Open failed", {48, 57}},
        {"MakeSFX is not allowed for splitted or spanned archives. Set SFXStub before archive creation instead of "
         "MakeSFX",
         {49}},
        {"Archive already has SFX stub", {50}},
        {"Multi-volume archive is not allowed for custom stream", {51}},
        {"Multi-spanned archive is not allowed for modification. Use BeginUpdate/EndUpdate methods to add files "
         "several times",
         {52}},
        {"Deflate64 compression method is not supported", {55}},
        {"MakeSFX error", {56}},
        {"Hashed list of file names is invalid", {58, 59}},
        {"Cannot delete folder \"%s\"", {60}},
        {"File name is too long: \r\n\"%s\"", {61}},
        {"Multiple transactions are not supported for multi-volume archives", {62}},
        {"", {}},
        {"", {}},
        {"", {}},
    };
    std::vector<bool> seen(63);
    for (std::size_t index = 0; index < table.size(); ++index) {
        EXPECT_STREQ(ZipErrorText(static_cast<int>(index)), table[index].first);
        for (int code : table[index].second) {
            const EZipException e = EZipException::CreateNative(code, nullptr);
            char number[8];
            std::snprintf(number, sizeof number, "%05d", code);
            EXPECT_EQ(e.Message, std::string(table[index].first) + " - Native error: " + number);
            EXPECT_EQ(e.ErrorCode, static_cast<int>(index));
            EXPECT_EQ(e.NativeError, code);
            seen[static_cast<std::size_t>(code)] = true;
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 63);
}

// The component's name leads the text when it has one; arguments are formatted into the table's
// texts; unknown codes still make an error.
TEST(ZipErrors, FormattedTexts) {
    Named archiver(u"Archiver"), unnamed(u"");
    EXPECT_EQ(EZipException::CreateNative(13, &archiver).Message,
              "Archiver: Archive is not open - Native error: 00013");
    EXPECT_EQ(EZipException::CreateNativeFmt(12, &archiver, {std::u16string(u"/tmp/t€st.kmz")}).Message,
              "Archiver: File \"/tmp/t\xE2\x82\xACst.kmz\" not found - Native error: 00012");
    EXPECT_EQ(EZipException::CreateNative(5, &unnamed).Message,
              "Invalid compression mode. Mode must be in [0-9] range - Native error: 00005");
    EXPECT_EQ(EZipException::CreateNativeFmt(34, nullptr, {std::int64_t{5000000000}, std::int64_t{-1}}).Message,
              "Invalid compressed size, rfs.size = 5000000000, count = -1 - Native error: 00034");
    EXPECT_EQ(EZipException::CreateNativeFmt(61, nullptr, {std::u16string(300, u'n')}).Message,
              "File name is too long: \r\n\"" + std::string(300, 'n') + "\" - Native error: 00061");
    const EZipException unknown = EZipException::CreateNative(99, nullptr);
    EXPECT_EQ(unknown.Message, "Unknown error - Native error: 00099");
    EXPECT_EQ(unknown.ErrorCode, 0);
    EXPECT_EQ(EZipException::CreateNative(-1, nullptr).ErrorCode, 0);
    EXPECT_EQ(ZipFormat("%.3u|%.2d|%5d|%-3s|%%|%s|%x",
                        {std::int64_t{7}, std::int64_t{4}, std::int64_t{13}, std::u16string(u"a")}),
              "007|04|   13|a  |%||%x");
}

// The system's text for a code it knows, trimmed; for a code without one the component's own.
TEST(ZipErrors, SystemErrorTexts) {
    EXPECT_EQ(WideSysErrorMessage(2), u"No such file or directory");
    EXPECT_EQ(WideLibraryErrorMessage(u"zlib", 13), u"Permission denied");
    EXPECT_EQ(WideSysErrorMessage(9999), u"Unspecified error (9999) from system.");
    EXPECT_EQ(WideLibraryErrorMessage(u"zlib", -3), u"Unspecified error (-3) from zlib.");
    EXPECT_EQ(WideSysErrorMessage(41), u"Unspecified error (41) from system.");  // a gap in the table
}
