// An output replaces an older file of its name only when it is complete, and never replaces what
// is not a file the user could write; a crash's scratch files go with the next run.
#include "output/output_file.h"

#include <sys/stat.h>

#include "writer_test_util.h"

namespace ts {
namespace {

using namespace ts::testing;
namespace fs = std::filesystem;

struct OutputFile : WriterTest {
    void Put(const std::string& name, const std::string& data) const {
        std::ofstream(dir / name, std::ios::binary) << data;
    }
    mode_t Mode(const std::string& name) const {
        struct stat st {};
        ::stat((dir / name).c_str(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(OutputFile, AnOlderFileIsReplacedWholeOrNotAtAll) {
    Put("x.csv", "older");
    ::chmod((dir / "x.csv").c_str(), 0640);
    {
        OutFile out;
        ASSERT_TRUE(out.Create(ctx, dir / "x.csv", "Writing CSV ..."));
        EXPECT_EQ(host.status[0], " x.csv  Writing CSV ...");
        out.Write("newer text");
        // Nothing of the text shows before it is complete, not even under another name.
        EXPECT_EQ(ReadFile(dir / "x.csv"), "older");
        EXPECT_EQ(dir.Files(), std::vector<std::string>{"x.csv"});
        out.Close();
    }
    EXPECT_EQ(ReadFile(dir / "x.csv"), "newer text");
    EXPECT_EQ(Mode("x.csv"), 0640u);  // the user's permissions stay

    for (bool abandon : {false, true}) {
        OutFile out;
        ASSERT_TRUE(out.Create(ctx, dir / "x.csv", "Writing CSV ..."));
        out.Write("never seen");
        if (!abandon) out.Discard();  // else: destroyed unfinished, as by a failure
    }
    EXPECT_EQ(ReadFile(dir / "x.csv"), "newer text");
    EXPECT_EQ(dir.Files(), std::vector<std::string>{"x.csv"});
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(OutputFile, FoldersReadOnlyFilesAndLinks) {
    fs::create_directory(dir / "d.gpx");
    Put("r.gpx", "read-only");
    ::chmod((dir / "r.gpx").c_str(), 0444);
    for (const char* name : {"d.gpx", "r.gpx"}) {
        OutFile out;
        EXPECT_FALSE(out.Create(ctx, dir / name, "Writing GPX ..."));
        EXPECT_EQ(host.lines.back(), "  Can't create: " + dir / name);
        EXPECT_EQ(host.messages.back(), "Can't create: " + dir / name);
    }
    EXPECT_TRUE(fs::is_directory(dir / "d.gpx"));
    EXPECT_EQ(ReadFile(dir / "r.gpx"), "read-only");
    EXPECT_EQ(host.lines.size(), 2u);

    // A link is written through: it stays a link, and the file it leads to gets the text.
    fs::create_directory(dir / "real");
    Put("real/t.gpx", "older");
    fs::create_symlink("real/t.gpx", dir / "l.gpx");
    OutFile out;
    ASSERT_TRUE(out.Create(ctx, dir / "l.gpx", "Writing GPX ..."));
    out.Write("through");
    out.Close();
    EXPECT_TRUE(fs::is_symlink(dir / "l.gpx"));
    EXPECT_EQ(ReadFile(dir / "real/t.gpx"), "through");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"d.gpx", "l.gpx", "r.gpx", "real"}));
}

// The new text of a private file is never readable by others, not even while it is made.
TEST_F(OutputFile, APrivateOlderFileStaysPrivateWhileReplaced) {
    Put("p.gpx", "private");
    ::chmod((dir / "p.gpx").c_str(), 0600);
    for (bool temporary : {false, true}) {
        OutFile out;
        ASSERT_TRUE(out.Create(ctx, dir / (temporary ? "p.$$$" : "p.gpx"), "Writing ...", temporary, 0600));
        const int fd = out.OpenForReading();
        struct stat st {};
        EXPECT_TRUE(::fstat(fd, &st) == 0 && (st.st_mode & 077) == 0) << temporary;
        ::close(fd);
        out.Close();
    }
    EXPECT_EQ(Mode("p.gpx"), 0600u);
}

// A link that leads nowhere yet stays and its target is made; links in a loop are refused.
TEST_F(OutputFile, ALinkToNothingYetGetsItsTargetMade) {
    fs::create_directory(dir / "real");
    fs::create_symlink("real/new.gpx", dir / "rel.gpx");
    fs::create_symlink("rel.gpx", dir / "chain.gpx");
    fs::create_symlink("loop.gpx", dir / "loop.gpx");
    OutFile out;
    for (const char* name : {"rel.gpx", "chain.gpx"}) {
        ASSERT_TRUE(out.Create(ctx, dir / name, "Writing GPX ..."));
        out.Write(name);
        out.Close();
    }
    EXPECT_TRUE(fs::is_symlink(dir / "rel.gpx") && fs::is_symlink(dir / "chain.gpx"));
    EXPECT_EQ(ReadFile(dir / "real/new.gpx"), "chain.gpx");
    EXPECT_FALSE(out.Create(ctx, dir / "loop.gpx", "Writing GPX ..."));
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"chain.gpx", "loop.gpx", "real", "rel.gpx"}));
}

TEST_F(OutputFile, ScratchFilesACrashLeftGoWithTheNextRun) {
    Put("x.kml.$$$", "crashed");
    Put("y.$$$", "crashed too");
    OutFile out;
    ASSERT_TRUE(out.Create(ctx, dir / "x.kml", "Writing ..."));
    out.Write("kml");
    out.Close();
    // The program's own scratch name: the text is linked in under it, replacing a stale one.
    ASSERT_TRUE(out.Create(ctx, dir / "y.$$$", "Writing ...", true));
    out.Write("document");
    EXPECT_EQ(ReadFile(dir / "y.$$$"), "crashed too");
    out.Close();
    EXPECT_EQ(ReadFile(dir / "y.$$$"), "document");
    EXPECT_EQ(ReadFile(dir / "x.kml"), "kml");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"x.kml", "y.$$$"}));
    // A folder under the scratch name is not the program's.
    fs::create_directory(dir / "z.$$$");
    EXPECT_FALSE(out.Create(ctx, dir / "z.$$$", "Writing ...", true));
    EXPECT_TRUE(fs::is_directory(dir / "z.$$$"));
}

}  // namespace
}  // namespace ts
