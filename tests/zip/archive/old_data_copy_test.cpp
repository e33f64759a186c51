// The copy a commit keeps of the old bytes it writes over: beside the archive, on the disk before
// the cut, left there when the commit is killed, named apart from an item's temporary.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fnmatch.h>
#include <limits.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "test_util.h"
#include "text/wide_files.h"
#include "text/wide_text.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;

namespace {

// The files directly in folder whose name matches pattern.
std::vector<fs::path> Matching(const fs::path& folder, const char* pattern) {
    std::vector<fs::path> found;
    for (const auto& e : fs::directory_iterator(folder))
        if (::fnmatch(pattern, e.path().filename().c_str(), 0) == 0) found.push_back(e.path());
    return found;
}

// An archive of an outside tool with what only its directory holds: an archive comment, item
// comments and external attributes. Returns where the directory starts.
std::size_t OutsideArchive(const fs::path& zip) {
    std::string out;
    EXPECT_EQ(ziptest::Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.comment = b'ARCHIVE-COMMENT'
    for name, comment, attr in (('a.txt', b'COMMENT-OF-A', 0x81A40021), ('b.txt', b'COMMENT-OF-B', 0x81240001)):
        i = zipfile.ZipInfo(name, (2020, 5, 6, 7, 8, 10))
        i.comment, i.external_attr, i.compress_type = comment, attr, zipfile.ZIP_DEFLATED
        z.writestr(i, name * 500)
print(zipfile.ZipFile(sys.argv[1]).start_dir)
)PY",
                              {zip.string()}, &out),
              0)
        << out;
    return static_cast<std::size_t>(std::stoul(out));
}

struct ScopedTmpdir {
    explicit ScopedTmpdir(const fs::path& dir) {
        if (const char* old = std::getenv("TMPDIR")) saved = old, had = true;
        fs::create_directories(dir);
        ::setenv("TMPDIR", dir.c_str(), 1);
    }
    ~ScopedTmpdir() {
        if (had) ::setenv("TMPDIR", saved.c_str(), 1);
        else ::unsetenv("TMPDIR");
    }
    std::string saved;
    bool had = false;
};

std::unique_ptr<TZipArchiver> OpenRw(const fs::path& zip, const fs::path& src) {
    auto a = std::make_unique<TZipArchiver>();
    a->FileName = UTF8DecodeWide(zip.string());
    a->OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    a->BaseDir = UTF8DecodeWide(src.string());
    return a;
}

// An archiver whose archive folder takes no scratch file.
class FullFolderArchiver : public TZipArchiver {
public:
    std::u16string refused;
    int refusals = 0;

protected:
    std::u16string MakeScratchFile(const std::u16string& folder, TZipScratchKind kind) override {
        if (folder == refused) {
            ++refusals;
            return {};
        }
        return TZipArchiver::MakeScratchFile(folder, kind);
    }
};

}  // namespace

// An append killed after it cut the old directory off: the comments and attributes that only the
// directory held are still on the disk, byte for byte, in a scratch file beside the archive that
// says what it holds; none went to the temporary folder.
TEST(OldDataCopy, AnAppendKilledAfterItsCutLeavesTheOldDirectoryBesideTheArchive) {
    ziptest::TempDir dir;
    const fs::path zip = dir.path() / "old.zip";
    const std::size_t start = OutsideArchive(zip);
    const std::string old = Bytes(zip);
    dir.write("src/new.txt", "appended");
    ScopedTmpdir tmp(dir.path() / "tmp");

    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        auto a = OpenRw(zip, dir.path() / "src");
        ziptest::OnItemStart(*a,
                             [](const std::u16string&, TZipProcessOperation, bool&) { ::kill(::getpid(), SIGKILL); });
        a->AddFiles(u"new.txt", 0x28BF, u"");
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    EXPECT_EQ(fs::file_size(zip), start);  // cut where the new item was to go
    const auto copies = Matching(dir.path(), "FC??????.old.zip.old.tmp");
    ASSERT_EQ(copies.size(), 1u);
    const std::string kept = Bytes(copies[0]);
    // The old bytes, then where they belong: the record's list and footer.
    EXPECT_EQ(kept.substr(0, old.size() - start), old.substr(start));
    EXPECT_EQ(kept.substr(kept.size() - 32, 8), "FCrecord");
    const std::string attrOfA("\x21\x00\xA4\x81", 4);
    for (const std::string& text : {std::string("ARCHIVE-COMMENT"), std::string("COMMENT-OF-A"), attrOfA})
        EXPECT_NE(kept.find(text), std::string::npos) << text;
    EXPECT_TRUE(fs::is_empty(dir.path() / "tmp"));

    // The caller's retry: the old directory is put back first, so the comments and attributes stay.
    auto a = OpenRw(zip, dir.path() / "src");
    a->AddFiles(u"new.txt", 0x28BF, u"");
    a->CloseArchive();
    EXPECT_TRUE(Matching(dir.path(), "FC*").empty());
    EXPECT_EQ(ziptest::PythonFields(zip, "i.filename, i.comment, hex(i.external_attr)"),
              "a.txt b'COMMENT-OF-A' 0x81a40021\nb.txt b'COMMENT-OF-B' 0x81240001\nnew.txt b'' 0x20\n");
    std::string comment;
    ziptest::Python("import sys, zipfile\nprint(zipfile.ZipFile(sys.argv[1]).comment.decode())", {zip.string()},
                    &comment);
    EXPECT_EQ(comment, "ARCHIVE-COMMENT\n");
}

// An append that succeeds or is cancelled after its cut: the copy is gone afterwards, and a
// cancel puts the outside tool's directory back byte for byte.
TEST(OldDataCopy, AnAppendsCopyGoesAfterItAndPutsTheDirectoryBackOnCancel) {
    ziptest::TempDir dir;
    const fs::path zip = dir.path() / "old.zip";
    OutsideArchive(zip);
    const std::string old = Bytes(zip);
    dir.write("src/new.txt", "appended");
    ScopedTmpdir tmp(dir.path() / "tmp");
    {
        auto a = OpenRw(zip, dir.path() / "src");
        std::size_t seen = 0;
        ziptest::OnItemStart(*a, [&](const std::u16string&, TZipProcessOperation, bool& cancel) {
            seen = Matching(dir.path(), "FC??????.old.zip.old.tmp").size();
            cancel = true;
        });
        a->AddFiles(u"new.txt", 0x28BF, u"");
        a->CloseArchive();
        EXPECT_EQ(seen, 1u);
    }
    EXPECT_EQ(Bytes(zip), old);
    {
        auto a = OpenRw(zip, dir.path() / "src");
        a->AddFiles(u"new.txt", 0x28BF, u"");
        a->CloseArchive();
    }
    EXPECT_TRUE(Matching(dir.path(), "FC*").empty());
    EXPECT_TRUE(fs::is_empty(dir.path() / "tmp"));
    EXPECT_EQ(ziptest::PythonFields(zip, "i.filename, i.comment, hex(i.external_attr)"),
              "a.txt b'COMMENT-OF-A' 0x81a40021\nb.txt b'COMMENT-OF-B' 0x81240001\nnew.txt b'' 0x20\n");
}

// A replace saves the tail beside the archive even when the temporary folder is elsewhere; only
// when the archive's folder takes no file does it go to the temporary folder.
TEST(OldDataCopy, AReplacesTailGoesBesideTheArchiveAndElsewhereOnlyWhenItMust) {
    ziptest::TempDir dir;
    dir.write("src/a.txt", std::string(3000, 'a'));
    dir.write("src/b.txt", std::string(2000, 'b'));
    fs::create_directories(dir.path() / "arc");
    const fs::path zip = dir.path() / "arc/t.zip";
    ziptest::MakeZip(zip, dir.path() / "src");
    ScopedTmpdir tmp(dir.path() / "tmp");
    dir.write("src/a.txt", "replaced");

    std::size_t beside = 0, inTmp = 0;
    {
        auto a = OpenRw(zip, dir.path() / "src");
        ziptest::OnItemStart(*a, [&](const std::u16string&, TZipProcessOperation, bool&) {
            beside = Matching(dir.path() / "arc", "FC??????.t.zip.old.tmp").size();
            inTmp = Matching(dir.path() / "tmp", "FC*").size();
        });
        a->AddFiles(u"a.txt", 0x28BF, u"");
        a->CloseArchive();
    }
    EXPECT_EQ(beside, 1u);
    EXPECT_EQ(inTmp, 0u);
    EXPECT_EQ(Matching(dir.path() / "arc", "FC*").size(), 0u);
    EXPECT_FALSE(ziptest::PythonCheck(zip, ziptest::SourcePairs(dir.str() + "src/", {"a.txt", "b.txt"})).empty());

    dir.write("src/a.txt", "replaced again");
    FullFolderArchiver a;
    a.refused = dir.wide() + u"arc/";
    a.TempDir = dir.wide() + u"own";
    fs::create_directories(dir.path() / "own");
    a.FileName = UTF8DecodeWide(zip.string());
    a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
    a.BaseDir = dir.wide() + u"src";
    ziptest::OnItemStart(a, [&](const std::u16string&, TZipProcessOperation, bool&) {
        beside = Matching(dir.path() / "arc", "FC*").size();
        inTmp = Matching(dir.path() / "own", "FC??????.t.zip.old.tmp").size();
    });
    a.AddFiles(u"a.txt", 0x28BF, u"");
    a.CloseArchive();
    EXPECT_EQ(a.refusals, 1);
    EXPECT_EQ(beside, 0u);
    EXPECT_EQ(inTmp, 1u);
    EXPECT_TRUE(fs::is_empty(dir.path() / "own"));
    EXPECT_FALSE(ziptest::PythonCheck(zip, ziptest::SourcePairs(dir.str() + "src/", {"a.txt", "b.txt"})).empty());
}

// Scratch names: the kind's word stays whole however long the archive's name is, the name and its
// kept form stay within the system's limit, and a character is never cut in half.
TEST(OldDataCopy, ScratchNamesSayTheirKindWithinTheNameLimit) {
    ziptest::TempDir dir;
    TZipScratchFiles scratch;
    const std::u16string longName = std::u16string(200, u'x') + u"é東京.zip";
    const struct {
        TZipScratchKind kind;
        const char* word;
    } kinds[] = {{TZipScratchKind::OldData, ".old.tmp"},
                 {TZipScratchKind::NewItem, ".new.tmp"},
                 {TZipScratchKind::ParkedVolume, ".parked.tmp"}};
    for (const auto& k : kinds) {
        for (const std::u16string& of : {std::u16string(u"t.zip"), longName, std::u16string(300, u'é')}) {
            const std::u16string made = scratch.Make(dir.wide(), of, k.kind);
            ASSERT_FALSE(made.empty());
            const std::string name = fs::path(WideToFsName(made)).filename().string();
            ASSERT_FALSE(name.empty());
            EXPECT_EQ(name.rfind("FC", 0), 0u);
            EXPECT_EQ(name.substr(name.size() - std::string(k.word).size()), k.word);
            EXPECT_LE(name.size() + 5, static_cast<std::size_t>(NAME_MAX)) << name;
            EXPECT_EQ(UTF8EncodeWide(UTF8DecodeWide(name)), name);  // valid UTF-8 throughout
            if (of == u"t.zip") {
                EXPECT_EQ(name.substr(8), ".t.zip" + std::string(k.word));
            }
        }
    }
}
