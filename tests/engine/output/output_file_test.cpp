// An output replaces an older file of its name only when it is complete, and never replaces what
// is not a file the user could write; scratch files take names no other run or crash holds.
#include "output/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "open_watch.h"
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

// Scratch files take names of their own: a file under a scratch name, a crash's or that of a run
// beside this one, is never taken over or removed.
TEST_F(OutputFile, ScratchFilesOfOthersAreNeverTaken) {
    Put("x.kml.$$$", "crashed");
    Put("y.$$$", "crashed too");
    OutFile out;
    ASSERT_TRUE(out.Create(ctx, dir / "x.kml", "Writing ..."));
    out.Write("kml");
    out.Close();
    // The program's own scratch name: the text is linked in under a name of its own beside it.
    ASSERT_TRUE(out.Create(ctx, dir / "y.$$$", "Writing ...", true));
    out.Write("document");
    EXPECT_EQ(ReadFile(dir / "y.$$$"), "crashed too");
    out.Close();
    const fs::path scratch = out.ScratchName();
    EXPECT_EQ(scratch.parent_path(), dir.path);
    EXPECT_EQ(scratch.filename().string().size(), std::string("y.123456.$$$").size()) << scratch;
    EXPECT_EQ(ReadFile(scratch), "document");
    EXPECT_EQ(ReadFile(dir / "y.$$$"), "crashed too");
    EXPECT_EQ(ReadFile(dir / "x.kml.$$$"), "crashed");
    EXPECT_EQ(ReadFile(dir / "x.kml"), "kml");
    EXPECT_EQ(dir.Files(), (std::vector<std::string>{"x.kml", "x.kml.$$$", "y.$$$", scratch.filename().string()}));
    // A folder under the scratch name is not the program's.
    fs::create_directory(dir / "z.$$$");
    EXPECT_FALSE(out.Create(ctx, dir / "z.$$$", "Writing ...", true));
    EXPECT_TRUE(fs::is_directory(dir / "z.$$$"));

    // Made exclusively, each under a name of its own, the random part before the extension.
    std::string a, b;
    const int fa = CreateHeldScratch(dir / "w.kmz.$$$", 0600, a), fb = CreateHeldScratch(dir / "w.kmz.$$$", 0600, b);
    ASSERT_TRUE(fa >= 0 && fb >= 0);
    ::close(fa), ::close(fb);
    EXPECT_NE(a, b);
    for (const std::string& n : {a, b}) {
        EXPECT_EQ(n.rfind(dir / "w.kmz.", 0), 0u) << n;
        EXPECT_EQ(n.size(), (dir / "w.kmz.123456.$$$").size()) << n;
        EXPECT_EQ(Mode(fs::path(n).filename().string()), 0600u) << n;
    }
    EXPECT_EQ(ScratchNameFor("/a.b/c").size(), std::string("/a.b/c.123456").size());
    // A name near the system's limit gives a scratch name within it.
    const std::string longName = ScratchNameFor("/a/" + std::string(NAME_MAX - 4, 'n') + ".$$$");
    EXPECT_EQ(longName.size(), 3u + NAME_MAX);
    EXPECT_EQ(longName.substr(longName.size() - 4), ".$$$");
}

// A scratch file that no run holds any more (a crash's) goes with the next run of its output; one
// that a run beside it holds stays, and so do files that only look alike.
TEST_F(OutputFile, OnlyACrashsScratchFilesGo) {
    Put("x.gpx.Crash1.$$$", "crashed");
    for (const char* n : {"x.gpx.$$$", "x.gpx.Crash.$$$", "x.gpx.Cr-sh1.$$$", "x.csv.Crash1.$$$"}) Put(n, n);
    std::string live;
    const int fd = CreateHeldScratch(dir / "x.gpx.$$$", 0600, live);
    ASSERT_GE(fd, 0);
    OutFile out;
    ASSERT_TRUE(out.Create(ctx, dir / "x.gpx", "Writing GPX ..."));
    out.Write("gpx");
    out.Close();
    EXPECT_FALSE(fs::exists(dir / "x.gpx.Crash1.$$$"));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_EQ(ReadFile(dir / "x.gpx"), "gpx");
    EXPECT_EQ(dir.Files().size(), 6u);
    ::close(fd);
    // Given up by its run, it is a crash's to the next one.
    ASSERT_TRUE(out.Create(ctx, dir / "x.gpx", "Writing GPX ..."));
    out.Discard();
    EXPECT_FALSE(fs::exists(live));
}

// A batch lists an output folder once, however many files it makes there and whatever else the
// folder holds; what a crash left is still found for every output it belongs to.
TEST_F(OutputFile, AFolderIsListedOnceABatch) {
    for (int i = 0; i < 300; ++i) Put("other" + std::to_string(i) + ".gpx", "");
    Put("b0.gpx.Crash1.$$$", "crashed");
    Put("b59.gpx.Crash2.$$$", "crashed");
    Put("b59.kmz.Crash3.$$$", "not an output of this batch");
    OpenWatch folder(dir.path.string());
    const auto listings = [&] { return CountOf(folder.Seen(), "o"); };
    for (int i = 0; i < 60; ++i) {
        OutFile out;
        ASSERT_TRUE(out.Create(ctx, dir / ("b" + std::to_string(i) + ".gpx"), "Writing GPX ..."));
        out.Write("gpx");
        out.Close();
    }
    EXPECT_EQ(listings(), 1);
    EXPECT_FALSE(fs::exists(dir / "b0.gpx.Crash1.$$$"));
    EXPECT_FALSE(fs::exists(dir / "b59.gpx.Crash2.$$$"));
    EXPECT_TRUE(fs::exists(dir / "b59.kmz.Crash3.$$$"));

    // Left after the listing: found by the next batch.
    Put("b1.gpx.Crash4.$$$", "crashed later");
    OutFile out;
    ASSERT_TRUE(out.Create(ctx, dir / "b1.gpx", "Writing GPX ..."));
    out.Discard();
    EXPECT_TRUE(fs::exists(dir / "b1.gpx.Crash4.$$$"));
    ctx.BeginBatch();
    ASSERT_TRUE(out.Create(ctx, dir / "b1.gpx", "Writing GPX ..."));
    out.Discard();
    EXPECT_FALSE(fs::exists(dir / "b1.gpx.Crash4.$$$"));
    EXPECT_EQ(listings(), 1);
    EXPECT_EQ(dir.Files().size(), 361u);
}

}  // namespace
}  // namespace ts
