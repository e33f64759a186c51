// A spooled part reaches the output file whole and in order, wherever its temporary could be made,
// and a second block through the same spool carries nothing of the first.

#include "output/text_spool.h"

#include <cstdlib>

#include "output/output_file.h"
#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;

struct SpoolPlace {
    const char* name;
    bool folderExists;
    const char* tmpdir;  // nullptr: leave TMPDIR as it is
};

void PrintTo(const SpoolPlace& p, std::ostream* os) { *os << p.name; }

struct TextSpoolTest : WriterTest, ::testing::WithParamInterface<SpoolPlace> {
    std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    bool hadTmpdir = std::getenv("TMPDIR") != nullptr;
    ~TextSpoolTest() override {
        if (hadTmpdir) setenv("TMPDIR", saved.c_str(), 1);
        else unsetenv("TMPDIR");
    }

    // Spools count records through a 10-byte bound and writes head + part into name.
    std::string Block(TextSpool& spool, const std::string& name, int count) {
        spool.Clear();
        std::string expected = "head\r\n";
        for (int i = 0; i < count; ++i) {
            const std::string rec = "record " + std::to_string(i) + "\r\n";
            spool.Text() += rec;
            spool.Flow();
            expected += rec;
        }
        EXPECT_EQ(spool.Size(), expected.size() - 6);
        OutFile out;
        EXPECT_TRUE(out.Create(ctx, dir / name, "Writing ..."));
        out.Write("head\r\n");
        spool.WriteTo(out);
        out.Close();
        return expected;
    }
};

TEST_P(TextSpoolTest, PartsArriveWholeAndBlocksStaySeparate) {
    const SpoolPlace& place = GetParam();
    if (place.tmpdir && std::string(place.tmpdir) == "/dev/shm" && !std::filesystem::is_directory("/dev/shm"))
        GTEST_SKIP() << "no /dev/shm";
    if (place.tmpdir) setenv("TMPDIR", place.tmpdir, 1);
    const std::string folder = place.folderExists ? dir.Folder() : dir.Folder() + "missing/";
    {
        TextSpool spool(folder, 10);
        EXPECT_EQ(ReadFile(dir / "a.txt"), Block(spool, "a.txt", 500));
        EXPECT_EQ(ReadFile(dir / "b.txt"), Block(spool, "b.txt", 7));
        EXPECT_EQ(ReadFile(dir / "c.txt"), Block(spool, "c.txt", 0));
    }
    // The temporaries had no names: only the outputs are left.
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Places, TextSpoolTest,
                         ::testing::Values(SpoolPlace{"BesideTheOutput", true, nullptr},
                                           SpoolPlace{"SystemTemporaryFolder", false, nullptr},
                                           // The kernel will not copy between file systems here.
                                           SpoolPlace{"OtherFileSystem", false, "/dev/shm"},
                                           SpoolPlace{"InMemory", false, "/nonexistent-folder"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ts
