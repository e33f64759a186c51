// Two unattended runs of one log with the same settings at the same time, as two windows or two
// scripted runs may start them: neither may take the other's scratch files.

#include <latch>
#include <map>
#include <thread>

#include "writer_test_util.h"
#include "zip/zip_judges.h"

namespace ts {
namespace {

using namespace ts::testing;
namespace fs = std::filesystem;

void EveryOutput(TConversionOptions& o) { o.NMEAout = o.KMZout = o.KMLout = o.GPXout = o.CSVout = true; }

// The files of dir but the log, with their bytes; a KMZ by its members' bytes, as its stamps are the
// time it was made.
std::map<std::string, std::string> Outputs(const ScratchDir& dir) {
    std::map<std::string, std::string> r;
    for (const std::string& f : dir.Files()) {
        if (f == "sample.nmea") continue;
        std::string& text = r[f];
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".kmz") == 0) {
            EXPECT_EQ(ziptest::Run("unzip -p " + Quote(dir / f), &text), 0) << f;
            text = ziptest::PythonCheck(dir / f) + text;
        } else {
            text = ReadFile(dir.path / f);
        }
    }
    return r;
}

TEST(TwoRuns, OfOneLogAtOnceBothSucceed) {
    ScratchDir dir;
    const std::string input = dir / "sample.nmea";
    fs::copy_file(std::string(TS_SHARED_DIR) + "/testdata/sample.nmea", input);
    {
        RecordingHost host;
        EngineContext ctx(host);
        EveryOutput(ctx.opt);
        ASSERT_GT(ConvertFile(ctx, input), 0);
        ASSERT_EQ(host.filesMade, 5);
    }
    const std::map<std::string, std::string> alone = Outputs(dir);
    ASSERT_EQ(alone.size(), 5u);
    for (int round = 0; round < 6; ++round) {
        RecordingHost hosts[2];
        std::unique_ptr<EngineContext> ctx[2];
        int32_t result[2] = {};
        std::latch start(2);
        std::vector<std::thread> runs;
        for (int k = 0; k < 2; ++k) {
            ctx[k] = std::make_unique<EngineContext>(hosts[k]);
            EveryOutput(ctx[k]->opt);
            runs.emplace_back([&, k] {
                start.arrive_and_wait();
                result[k] = ConvertFile(*ctx[k], input);
            });
        }
        for (std::thread& t : runs) t.join();
        for (int k = 0; k < 2; ++k) {
            EXPECT_GT(result[k], 0) << round;
            EXPECT_EQ(hosts[k].filesMade, 5) << round;
            for (const std::string& line : hosts[k].lines)
                EXPECT_TRUE(line.find("error") == std::string::npos && line.find("Can't") == std::string::npos)
                    << round << ": " << line;
        }
        // Whole files, as one run alone makes them, and no scratch file of either run left.
        EXPECT_TRUE(Outputs(dir) == alone) << round;
    }
}

}  // namespace
}  // namespace ts
