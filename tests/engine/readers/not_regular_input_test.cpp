// Inputs that are not regular files, under every reader's extension.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "reader_test_util.h"
#include "readers/convert.h"

namespace ts {
namespace {

std::string GoodLog() {
    std::string s;
    for (int i = 0; i < 5; ++i) {
        const std::string t = "10000" + std::to_string(i) + ".000", lat = "480" + std::to_string(i) + ".0000";
        s += test::Nmea("GPGGA," + t + "," + lat + ",N,01131.000,E,1,08,0.9,500.0,M,47.0,M,,") + "\r\n";
        s += test::Nmea("GPRMC," + t + ",A," + lat + ",N,01131.000,E,10.0,0.0,070804,,") + "\r\n";
    }
    return s;
}

// A pipe nobody writes to would wait in its open for ever and /dev/zero (here through a link)
// never ends: each is refused with the reader's "Can not open" and the next log still converts.
// Run in a child under an alarm, so that a wait fails the test instead of holding the suite.
TEST(NotRegularInput, PipesAndDevicesAreRefusedAndTheNextLogConverts) {
    testing::ScratchDir dir;
    const std::string good = dir / "good.nmea";
    std::ofstream(good, std::ios::binary) << GoodLog();
    std::vector<std::string> names;
    for (const char* ext : {".nmea", ".log", ".csv", ".txt", ".trl", ".tks", ".tk1", ".nma"}) {
        names.push_back(std::string("pipe") + ext);
        ASSERT_EQ(::mkfifo((dir / names.back()).c_str(), 0600), 0);
        names.push_back(std::string("zero") + ext);
        ASSERT_EQ(::symlink("/dev/zero", (dir / names.back()).c_str()), 0);
    }
    EXPECT_EXIT(
        {
            ::alarm(30);
            RecordingHost host;
            EngineContext ctx(host);
            ctx.opt.KMZout = false;
            ctx.opt.KMLout = true;
            int faults = 0;
            for (const std::string& name : names) {
                host.lines.clear();
                ConvertFile(ctx, dir / name);
                if (!testing::HasLine(host, "  Can not open: " + name)) {
                    std::fprintf(stderr, "no Can not open: %s\n", name.c_str());
                    ++faults;
                }
                host.filesMade = 0;
                ConvertFile(ctx, good);
                if (host.filesMade != 1) {
                    std::fprintf(stderr, "no file after %s\n", name.c_str());
                    ++faults;
                }
            }
            std::_Exit(faults);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ts
