// The files a KMZ packs beside its document: each under a name of its own, and only what can be
// read to its end without waiting (a pipe or a device is left out with a report line).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "writer_test_util.h"
#include "zip/zip_judges.h"

namespace ts {
namespace {

using namespace ts::testing;
namespace fs = std::filesystem;

constexpr const char* kKmz = "2024-03-16_09-00-00.kmz";
constexpr const char* kKml = "2024-03-16_09-00-00.kml";

struct KmzSources : WriterTest {
    void SetUp() override {
        DeriveOptions(ctx.opt);
        AddBlock(ctx, Walk(T(2024, 3, 16, 9, 0, 0), 30));
        ctx.opt.IconSource = 1;
        ctx.opt.Visible.fill(true);
    }
    std::string Put(const std::string& name, const std::string& data) const {
        fs::create_directories(fs::path(dir / name).parent_path());
        std::ofstream(dir / name, std::ios::binary) << data;
        return dir / name;
    }
    std::string Fifo(const std::string& name) const {
        EXPECT_EQ(::mkfifo((dir / name).c_str(), 0600), 0);
        return dir / name;
    }
    // Writes the KMZ; a run still held after 20 seconds fails, and each pipe is then opened for
    // writing and closed, so that a reader waiting on it goes on and the test ends.
    int32_t WriteWithin(const std::vector<std::string>& pipes) {
        auto run = std::async(std::launch::async, [this] { return WriteKml(ctx, dir.Folder(), true); });
        if (run.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "the KMZ waits on a pipe";
            while (run.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready)
                for (const std::string& p : pipes) {
                    const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
                    if (fd >= 0) ::close(fd);
                }
        }
        return run.get();
    }
    std::string Document() const {
        std::string kml;
        EXPECT_EQ(ziptest::Run("unzip -p " + Quote(dir / kKmz) + " " + kKml, &kml), 0);
        return kml;
    }
};

// Icons of one stored name from three folders ("\" makes "_", and the archive tells no case apart)
// and a logo of that name: each is packed whole under a name of its own, and the document refers
// to each by it.
TEST_F(KmzSources, EverySourceGetsAMemberOfItsOwn) {
    TConversionOptions& o = ctx.opt;
    const std::string a = Put("a/ic\\on1.png", "first"), b = Put("b/ic_on1.png", "second"),
                      c = Put("c/IC_ON1.png", "third"), taken = Put("d/ic_on1_2.png", "fourth");
    o.ExtIconFile.fill(a);
    o.ExtIconFile[6] = b;      // Start
    o.ExtIconFile[7] = taken;  // End: its own name comes first, the others number past it
    o.LogoFile = c;
    ASSERT_EQ(WriteWithin({}), 30) << host.lines.back();
    EXPECT_EQ(host.lines.back(), std::string("  Make: ") + kKmz + "      30 records");
    EXPECT_EQ(ziptest::PythonCheck(
                  dir / kKmz, {"ic_on1.png=" + a, "ic_on1_3.png=" + b, "ic_on1_2.png=" + taken, "IC_ON1_4.png=" + c}),
              std::string(kKml) + "|0|8|554e\nic_on1.png|0|8|554e\nic_on1_3.png|0|8|554e\n" +
                  "ic_on1_2.png|0|8|554e\nIC_ON1_4.png|0|8|554e\n");
    const std::string kml = Document();
    for (const char* href : {"ic_on1.png", "ic_on1_3.png", "ic_on1_2.png", "IC_ON1_4.png"})
        EXPECT_NE(kml.find(std::string("<href>") + href + "</href>"), std::string::npos) << href;
    std::string out;
    EXPECT_TRUE(ziptest::UnzipTest(dir / kKmz, &out)) << out;
}

// A pipe, a device and a link to one as icons, and a pipe as the logo: none is waited on or packed
// empty; each is named in the report, the document shows no logo, and the KMZ is made with the rest.
TEST_F(KmzSources, SourcesThatAreNoRegularFilesAreLeftOutAndReported) {
    TConversionOptions& o = ctx.opt;
    const std::string pipe = Fifo("pipe.png"), logo = Fifo("logo.png"), zero = dir / "zero.png";
    fs::create_symlink("/dev/zero", zero);
    o.ExtIconFile.fill("/dev/zero");  // speed classes
    o.ExtIconFile[6] = pipe;          // Start
    o.ExtIconFile[7] = zero;          // End
    o.LogoFile = logo;
    ASSERT_EQ(WriteWithin({pipe, logo}), 30);
    for (const std::string& f : {std::string("/dev/zero"), pipe, zero, logo})
        EXPECT_TRUE(HasLine(host, "  Not a regular file: " + f)) << f;
    EXPECT_TRUE(host.showReportAtEnd);
    EXPECT_EQ(host.lines.back(), std::string("  Make: ") + kKmz + "      30 records");
    EXPECT_EQ(ziptest::PythonCheck(dir / kKmz), std::string(kKml) + "|0|8|554e\n");
    EXPECT_EQ(Document().find("ScreenOverlay"), std::string::npos);
}

}  // namespace
}  // namespace ts
