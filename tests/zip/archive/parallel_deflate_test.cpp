// Deflate on several threads: the blocks joined are one raw deflate stream of the source, about as
// small as the single stream with a sync flush per block, with the CRC of the whole; a source that
// ends early shows as a short block; and a KML of several blocks packed by the archiver passes the
// outside judges.
#include <algorithm>

#include <signal.h>
#include <sys/resource.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "archive/archiver.h"
#include "archive/deflate_pipeline.h"
#include "archive/parallel_deflate.h"
#include "test_util.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;

namespace {

std::string Inflate(const std::string& raw) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
    std::string out(raw.size() * 40 + 1024, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.data()));
    zs.avail_in = static_cast<uInt>(raw.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&zs, Z_FINISH);
    EXPECT_EQ(rc, Z_STREAM_END);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

// Today's single stream: one deflate call per block, a sync flush between blocks.
std::size_t SingleStreamSize(const std::string& data, std::size_t block, int level) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<std::uint8_t> out(deflateBound(&zs, data.size()) + 1024);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    for (std::size_t at = 0; at < data.size(); at += block) {
        const std::size_t n = std::min(block, data.size() - at);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
        zs.avail_in = static_cast<uInt>(n);
        deflate(&zs, at + n == data.size() ? Z_FINISH : Z_SYNC_FLUSH);
    }
    const std::size_t size = zs.total_out;
    deflateEnd(&zs);
    return size;
}

// A stream that claims more bytes than it holds.
struct ShortStream : TStream {
    TMemoryStream data;
    std::int64_t claimed = 0;
    std::int64_t Read(void* b, std::int64_t n) override { return data.Read(b, n); }
    std::int64_t Write(const void* b, std::int64_t n) override { return data.Write(b, n); }
    std::int64_t Seek(std::int64_t o, TSeekOrigin from) override { return data.Seek(o, from); }
    void SetSize(std::int64_t n) override { data.SetSize(n); }
    std::int64_t Size() override { return claimed; }
};

// An archive of one small item, to which a KML of several blocks is then added.
struct TwoItems {
    ziptest::TempDir dir;
    TZipArchiver a;
    std::string before;
    TwoItems() {
        fs::create_directories(dir.path() / "src");
        dir.write("src/a.kml", ziptest::Kml(100));
        dir.write("src/big.kml", ziptest::Kml(90000));
        a.SetCompressionMode(9);
        a.FileName = dir.wide() + u"t.zip";
        a.BaseDir = dir.wide() + u"src";
        a.OpenArchive(fmCreate);
        a.AddFiles(u"a.kml", 0x28BF, u"");
        before = ziptest::Bytes(dir.path() / "t.zip");
    }
    std::string Now() const { return ziptest::Bytes(dir.path() / "t.zip"); }
};

}  // namespace

TEST(ParallelDeflate, AStopInTheMiddleOfAnItemLeavesTheArchiveAsItWas) {
    {  // The user cancels at the third block.
        TwoItems t;
        int calls = 0;
        t.a.OnFileProgress = [&](TComponent*, const std::u16string&, double, TZipProcessOperation, TZipProgressPhase ph,
                                 bool& cancel) {
            if (ph == ppProcess && ++calls == 3) cancel = true;
        };
        t.a.AddFiles(u"big.kml", 0x28BF, u"");
        EXPECT_EQ(t.Now(), t.before);
        EXPECT_EQ(t.a.FileCount(), 1);
    }
    {  // The disk fills up after the first block, and nobody makes room: the write error is said.
        TwoItems t;
        signal(SIGXFSZ, SIG_IGN);
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit r = old;
        r.rlim_cur = static_cast<rlim_t>(t.before.size() + 200000);
        setrlimit(RLIMIT_FSIZE, &r);
        EXPECT_EQ(ziptest::NativeOf([&] { t.a.AddFiles(u"big.kml", 0x28BF, u""); }), 46);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(t.Now(), t.before);
        EXPECT_EQ(t.a.FileCount(), 1);
    }
}

TEST(ParallelDeflate, BlocksJoinIntoTheSourceWithItsCrc) {
    // Text with repeats across block borders, and noise that does not compress.
    const std::string data = ziptest::Kml(12000) + ziptest::Random(150000, 7) + ziptest::Kml(3000);
    const std::int64_t block = 96 * 1024;
    const std::size_t single = SingleStreamSize(data, block, 9);
    for (int threads : {1, 2, 8}) {
        TMemoryStream source;
        source.Write(data.data(), static_cast<std::int64_t>(data.size()));
        TParallelDeflate pd(source, 0, static_cast<std::int64_t>(data.size()), block, 9, threads);
        std::string joined;
        std::uint32_t crc = 0;
        std::int64_t read = 0;
        while (read < static_cast<std::int64_t>(data.size())) {
            const TDeflatedBlock b = pd.Next();
            ASSERT_EQ(b.read, std::min<std::int64_t>(block, static_cast<std::int64_t>(data.size()) - read)) << threads;
            crc = static_cast<std::uint32_t>(crc32_combine(crc, b.crc, static_cast<z_off_t>(b.read)));
            joined.append(b.data.begin(), b.data.end());
            read += b.read;
        }
        EXPECT_EQ(pd.Next().read, 0);  // nothing after the last block
        EXPECT_EQ(crc, ziptest::Crc(data)) << threads;
        EXPECT_EQ(Inflate(joined), data) << threads;
        EXPECT_LE(std::abs(static_cast<double>(joined.size()) - static_cast<double>(single)), single * 0.005)
            << threads << ": " << joined.size() << " against " << single;
    }
}

TEST(ParallelDeflate, AGrowingSourceGivesTheBlocksOfAFinishedOne) {
    const std::int64_t block = 64 * 1024;
    // The second size ends on a block border: its last full block must still be the finishing one.
    for (const std::int64_t size : {std::int64_t{300000}, 4 * block}) {
        const std::string data = ziptest::Kml(40000).substr(0, static_cast<std::size_t>(size));
        ASSERT_EQ(static_cast<std::int64_t>(data.size()), size);
        TMemoryStream whole, growing;
        whole.Write(data.data(), size);
        growing.Write(data.data(), size);
        TParallelDeflate fixed(whole, 0, size, block, 9, 3);
        TParallelDeflate fed(growing, block, 9, 3);
        std::vector<TDeflatedBlock> got;
        for (std::int64_t at = 0; at < size + 7777; at += 7777) {
            fed.Grown(std::min(at, size));
            while (fed.NextReady()) got.push_back(fed.Next());
        }
        // The block that may be the last waits for the end, however long it is given.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        while (fed.NextReady()) got.push_back(fed.Next());
        EXPECT_LT(got.size(), static_cast<std::size_t>((size + block - 1) / block));
        fed.End(size);
        for (TDeflatedBlock b = fed.Next(); b.read > 0; b = fed.Next()) got.push_back(std::move(b));
        ASSERT_EQ(got.size(), static_cast<std::size_t>((size + block - 1) / block));
        for (const TDeflatedBlock& b : got) {
            const TDeflatedBlock f = fixed.Next();
            EXPECT_EQ(b.read, f.read);
            EXPECT_EQ(b.crc, f.crc);
            EXPECT_TRUE(b.data == f.data) << size;
        }
    }
}

TEST(ParallelDeflate, ASourceThatEndsEarlyGivesAShortBlock) {
    const std::string data = ziptest::Kml(4000);
    ShortStream source;
    source.data.Write(data.data(), static_cast<std::int64_t>(data.size()));
    source.claimed = static_cast<std::int64_t>(data.size()) + 100000;
    const std::int64_t block = 64 * 1024;
    TParallelDeflate pd(source, 0, source.claimed, block, 6, 4);
    std::int64_t read = 0;
    for (;;) {
        const TDeflatedBlock b = pd.Next();
        read += b.read;
        if (b.read < block) {
            EXPECT_TRUE(b.data.empty());
            break;
        }
    }
    EXPECT_EQ(read, static_cast<std::int64_t>(data.size()));
}

TEST(ParallelDeflate, AKmlOfSeveralBlocksPassesTheJudges) {
    ziptest::TempDir dir;
    fs::create_directories(dir.path() / "src");
    const std::string kml = ziptest::Kml(90000);  // about 5 MiB: four blocks of the maximum level
    ASSERT_GT(kml.size(), 3u * 0x180000);
    dir.write("src/big.kml", kml);
    TZipArchiver a;
    a.SetCompressionMode(9);
    a.FileName = dir.wide() + u"t.zip";
    a.BaseDir = dir.wide() + u"src";
    a.OpenArchive(fmCreate);
    a.AddFiles(u"big.kml", 0x28BF, u"");
    a.CloseArchive();
    const fs::path zip = dir.path() / "t.zip";
    EXPECT_FALSE(ziptest::PythonCheck(zip, {"big.kml=" + dir.str() + "src/big.kml"}).empty());
    std::string out;
    EXPECT_TRUE(ziptest::UnzipTest(zip, &out)) << out;
    EXPECT_TRUE(ziptest::SevenZipTest(zip, &out)) << out;
    EXPECT_EQ(ziptest::Run("zipinfo -v " + ziptest::Quote(zip.string()), &out), 0) << out;
    const std::size_t single = SingleStreamSize(kml, 0x180000, 9);
    const std::size_t packed = static_cast<std::size_t>(ziptest::LE(ziptest::Bytes(zip), 18, 4));
    EXPECT_LE(std::abs(static_cast<double>(packed) - static_cast<double>(single)), single * 0.005);
}
