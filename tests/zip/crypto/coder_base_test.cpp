#include "crypto/coder_base.h"

#include <gtest/gtest.h>

#include "crypto/text_codecs.h"
#include "test_util.h"
#include "text/streams.h"
#include "text/wide_files.h"

using namespace zip;

namespace {

// Adds its key to every byte when encoding, subtracts it when decoding.
struct AddCoder : TCoder {
    explicit AddCoder(std::uint8_t k) : key(k) {}
    void CodeBlock(std::uint8_t* buffer, std::size_t size, int action) override {
        ++blocks;
        if (action == paDecode) {
            for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<std::uint8_t>(buffer[i] - key);
            TCoder::CodeBlock(buffer, size, action);
        } else {
            TCoder::CodeBlock(buffer, size, action);
            if (action == paEncode)
                for (std::size_t i = 0; i < size; ++i) buffer[i] = static_cast<std::uint8_t>(buffer[i] + key);
        }
        seen += size;
    }
    void InitCoding(int action) override {
        ++inits;
        TCoder::InitCoding(action);
    }
    void DoneCoding(int action) override {
        ++dones;
        TCoder::DoneCoding(action);
    }
    std::uint8_t key;
    int blocks = 0, inits = 0, dones = 0;
    std::size_t seen = 0;
};

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 7 + i / 251);
    return s;
}

std::string Shifted(std::string s, int k) {
    for (char& c : s) c = static_cast<char>(static_cast<std::uint8_t>(c) + k);
    return s;
}

struct ProgressLog {
    ProgressLog() {
        ProgressProc = [this](const void*, std::int64_t pos, std::int64_t total) { calls.push_back({pos, total}); };
    }
    ~ProgressLog() { ProgressProc = nullptr; }
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
};

}  // namespace

TEST(CoderProtection, CyclesAreRefusedAndTheOldChainKept) {
    auto a = std::make_shared<AddCoder>(1);
    auto b = std::make_shared<AddCoder>(2);
    auto c = std::make_shared<AddCoder>(3);
    EXPECT_THROW(a->SetProtection(a), ECoder);
    EXPECT_EQ(a->GetProtection(), nullptr);
    a->SetProtection(b);
    b->SetProtection(c);
    EXPECT_THROW(c->SetProtection(a), ECoder);
    EXPECT_EQ(c->GetProtection(), nullptr);
    EXPECT_EQ(a->GetProtection(), b);
    // The chain codes through both: the protection first when encoding, last when decoding.
    std::string data = "abc";
    a->CodeBuffer(data.data(), data.size(), paEncode);
    EXPECT_EQ(data, Shifted("abc", 6));
    EXPECT_EQ(c->inits, 1);
    EXPECT_EQ(c->dones, 1);
    a->CodeBuffer(data.data(), data.size(), paDecode);
    EXPECT_EQ(data, "abc");
    a->SetProtection(nullptr);
    a->CodeBuffer(data.data(), data.size(), paEncode);
    EXPECT_EQ(data, Shifted("abc", 1));
}

TEST(CoderStream, InPlaceSeparateAndCalculate) {
    const std::string data = Pattern(10000);
    AddCoder coder(5);
    ProgressLog log;

    TMemoryStream src, dst;
    src.WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
    dst.WriteBuffer("head", 4);
    src.SetPosition(1234);  // a negative size codes everything from position 0
    coder.CodeStream(&src, &dst, -1, paEncode);
    EXPECT_EQ(std::string(dst.Data().begin(), dst.Data().end()), "head" + Shifted(data, 5));
    EXPECT_EQ(coder.blocks, 3);  // 4096-byte blocks
    ASSERT_EQ(log.calls.size(), 5u);
    EXPECT_EQ(log.calls.front(), std::make_pair(std::int64_t{0}, std::int64_t{10000}));
    EXPECT_EQ(log.calls[3], std::make_pair(std::int64_t{10000}, std::int64_t{10000}));
    EXPECT_EQ(log.calls.back(), std::make_pair(std::int64_t{0}, std::int64_t{0}));

    // In place, from the current position, only the bytes asked for.
    src.SetPosition(100);
    coder.CodeStream(&src, nullptr, 5000, paEncode);
    const std::string& after = std::string(src.Data().begin(), src.Data().end());
    EXPECT_EQ(after, data.substr(0, 100) + Shifted(data.substr(100, 5000), 5) + data.substr(5100));

    // Calculating reads everything and writes nothing.
    const std::int64_t before = dst.Size();
    coder.seen = 0;
    coder.CodeStream(&src, &dst, -1, paCalculate);
    EXPECT_EQ(coder.seen, data.size());
    EXPECT_EQ(dst.Size(), before);

    // A source shorter than the size asked for ends at its end; no source does nothing.
    TMemoryStream small, out;
    small.WriteBuffer("xy", 2);
    small.SetPosition(0);
    coder.CodeStream(&small, &out, 100, paEncode);
    EXPECT_EQ(std::string(out.Data().begin(), out.Data().end()), Shifted("xy", 5));
    coder.CodeStream(nullptr, &out, 100, paEncode);
}

TEST(CoderFile, SeparateInPlaceAndSameFileUnderAnotherName) {
    ziptest::TempDir dir;
    const std::string data = Pattern(9000);
    dir.write("a.bin", data);
    dir.write("b.bin", std::string(20000, 'z'));  // longer: cut at the coded size
    AddCoder coder(9);
    const std::u16string a = dir.wide() + u"a.bin";
    const std::u16string b = dir.wide() + u"b.bin";

    coder.CodeFile(a, b, paEncode);
    EXPECT_EQ(ziptest::Bytes(dir.path() / "b.bin"), Shifted(data, 9));
    EXPECT_EQ(ziptest::Bytes(dir.path() / "a.bin"), data);

    coder.CodeFile(b, u"  ", paDecode);
    EXPECT_EQ(ziptest::Bytes(dir.path() / "b.bin"), data);

    // The same file reached through another spelling is coded in place, not truncated.
    const std::u16string other = dir.wide() + u"./x/../a.bin";
    coder.CodeFile(a, other, paEncode);
    EXPECT_EQ(ziptest::Bytes(dir.path() / "a.bin"), Shifted(data, 9));

    // Calculating makes no destination file.
    coder.CodeFile(a, dir.wide() + u"c.bin", paCalculate);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "c.bin"));

    EXPECT_THROW(coder.CodeFile(dir.wide() + u"missing.bin", b, paEncode), EStreamError);
}

TEST(CoderString, FormatsBothWays) {
    AddCoder coder(1);
    EXPECT_EQ(coder.CodeString("", paEncode, fmtHEX), "");
    EXPECT_EQ(coder.CodeString("ab", paEncode, fmtHEX), "6263");
    EXPECT_EQ(coder.CodeString("6263", paDecode, fmtHEX), "ab");
    EXPECT_EQ(coder.CodeString("ab", paEncode), "YmM=");
    EXPECT_EQ(coder.CodeString("YmM=", paDecode), "ab");
    EXPECT_EQ(coder.CodeString("ab", paCalculate, fmtHEX), "6162");
    EXPECT_THROW(coder.CodeString("ab", paEncode, 7), EStringFormat);
}

TEST(CoderUtilities, BuffersSwapsAndScramble) {
    EXPECT_EQ(CompareMemDiff("abXd", "abcd", 4), 'X' - 'c');
    EXPECT_EQ(CompareMemDiff("\xFF", "\x01", 1), 254);  // bytes compare unsigned
    EXPECT_EQ(CompareMemDiff("a", "b", 0), 0);
    EXPECT_EQ(FindByteInBuffer(0xF0, "\x01\xF0\xF0", 3), 1);
    EXPECT_EQ(FindByteInBuffer(0x01, "", 0), -1);
    const std::uint32_t in[2] = {0x01020304u, 0xA0B0C0D0u};
    std::uint32_t out[2];
    SwapIntegerBuffer(in, out, 2);
    EXPECT_EQ(out[1], 0xD0C0B0A0u);
    EXPECT_EQ(RotateLeft32(0x12345678u, 32), 0x12345678u);
    // Each byte feeds the seed that replaces it.
    std::uint8_t z[4] = {0x00, 0x41, 0xFF, 0x10};
    RndXorBuffer(0x12345678u, z, sizeof z);
    EXPECT_EQ(ziptest::Hex(z, 4), "cb6f5407");
}
