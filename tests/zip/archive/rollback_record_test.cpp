// A killed commit's rollback record is put back by the next open for writing, or that open is
// refused naming it; one writer at a time across processes; through a link the record lies
// beside the archive itself.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "test_util.h"
#include "text/wide_text.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::NativeOf;

namespace {

const fs::path kRecord = "FCrecord.t.zip.old.tmp";

// An archive of three items, a.txt, b.bin and c.txt, with new sources for a.txt and d.bin.
fs::path Lay(const ziptest::TempDir& dir) {
    dir.write("src/a.txt", std::string(3000, 'a'));
    dir.write("src/b.bin", ziptest::Random(40000, 3));
    dir.write("src/c.txt", std::string(2000, 'c'));
    const fs::path zip = dir.path() / "t.zip";
    ziptest::MakeZip(zip, dir.path() / "src");
    dir.write("src/a.txt", "replaced");
    dir.write("src/d.bin", ziptest::Random(9000, 4));
    return zip;
}

void Open(TZipArchiver& a, const fs::path& zip, const ziptest::TempDir& dir, std::uint16_t mode) {
    a.FileName = UTF8DecodeWide(zip.string());
    a.OpenArchive(mode);
    a.BaseDir = dir.wide() + u"src";
}

// Runs one transaction on zip: "replace", "append", "rename" or "delete".
void Transaction(TZipArchiver& a, const std::string& op) {
    if (op == "replace") return a.AddFiles(u"a.txt", 0x28BF, u"");
    if (op == "append") return a.AddFiles(u"d.bin", 0x28BF, u"");
    a.BeginUpdate();
    TZipDirArray& items = a.DirManager()->Items;
    int at = -1;
    if (items.FindItem(u"b.bin", at)) {
        if (op == "rename") {
            items.RenameItem(at, u"e.bin");
            TDirItem& item = items.GetItem(at);
            item.ItemOperation = poRename;
            item.OldName = u"b.bin";
            item.Pending = true;
        } else {
            items.Delete(at);
        }
    }
    a.EndUpdate();
}

// The archive's file, killing the process at its second write after the commit cut it back: in the
// middle of the items written or copied back from the saved tail.
class KillAfterTheCut : public TUniFileStream {
public:
    using TUniFileStream::TUniFileStream;
    void SetSize(std::int64_t size) override {
        TUniFileStream::SetSize(size);
        cut_ = true;
    }
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        if (cut_ && ++writes_ == 2) ::kill(::getpid(), SIGKILL);
        return TUniFileStream::Write(buffer, count);
    }

private:
    bool cut_ = false;
    int writes_ = 0;
};

class KilledArchiver : public TZipArchiver {
protected:
    std::unique_ptr<TUniFileStream> NewVolumeStream(const std::u16string& name, std::uint16_t mode) override {
        return std::make_unique<KillAfterTheCut>(name, mode);
    }
};

// Runs op in a child killed in the middle of its commit, after the archive was cut; true when it
// was killed there.
bool KilledAfterTheCut(const fs::path& zip, const ziptest::TempDir& dir, const std::string& op) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        KilledArchiver a;
        Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
        Transaction(a, op);
        ::_exit(0);
    }
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

}  // namespace

// A replace, a delete, a rename and an append killed after the cut: the next open for writing puts
// the archive back byte for byte and removes the record; the caller's retry then keeps every item.
TEST(RollbackRecord, AKilledTransactionIsPutBackAndItsRetryKeepsEveryItem) {
    for (const std::string op : {"replace", "delete", "rename", "append"}) {
        SCOPED_TRACE(op);
        ziptest::TempDir dir;
        const fs::path zip = Lay(dir);
        const std::string old = Bytes(zip);
        ASSERT_TRUE(KilledAfterTheCut(zip, dir, op));
        ASSERT_NE(Bytes(zip), old);
        ASSERT_TRUE(fs::exists(dir.path() / kRecord));
        {
            TZipArchiver a;
            Open(a, zip, dir, fmOpenRead | fmShareDenyNone);  // a reader takes the file as it is
            a.CloseArchive();
        }
        EXPECT_TRUE(fs::exists(dir.path() / kRecord));
        {
            TZipArchiver a;
            Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
            a.CloseArchive();
        }
        EXPECT_EQ(Bytes(zip), old);
        EXPECT_FALSE(fs::exists(dir.path() / kRecord));

        ASSERT_TRUE(KilledAfterTheCut(zip, dir, op));
        {
            TZipArchiver a;
            Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
            Transaction(a, op);
            a.CloseArchive();
        }
        std::vector<std::string> members = {"c.txt"};
        if (op != "delete" && op != "rename") members.push_back("b.bin");
        if (op == "replace") members.push_back("a.txt");
        if (op == "append") members.push_back("d.bin");
        const std::string listing = ziptest::PythonCheck(zip, ziptest::SourcePairs(dir.str() + "src/", members));
        ASSERT_FALSE(listing.empty());
        EXPECT_EQ(listing.find("a.txt|") != std::string::npos, true);
        EXPECT_EQ(listing.find("e.bin|") != std::string::npos, op == "rename");
        EXPECT_EQ(listing.find("b.bin|") != std::string::npos, op != "rename" && op != "delete");
        EXPECT_TRUE(ziptest::UnzipTest(zip));
        EXPECT_FALSE(fs::exists(dir.path() / kRecord));
    }
}

// A record that does not fit the archive any more (the file was replaced since), or whose bytes
// were damaged, is never put back: the open for writing is refused naming it, nothing changes,
// and readers still read. One never armed, or whose commit finished, is removed.
TEST(RollbackRecord, ARecordThatCannotGoBackRefusesTheOpenAndChangesNothing) {
    ziptest::TempDir dir;
    const fs::path zip = Lay(dir);
    ASSERT_TRUE(KilledAfterTheCut(zip, dir, "replace"));
    const fs::path record = dir.path() / kRecord;
    const std::string armed = Bytes(record);
    auto refused = [&](const std::string& what) {
        SCOPED_TRACE(what);
        const std::string before = Bytes(zip), kept = Bytes(record);
        std::string message;
        TZipArchiver a;
        EXPECT_EQ(NativeOf([&] { Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite); }, &message), 33);
        EXPECT_NE(message.find(record.string()), std::string::npos) << message;
        EXPECT_FALSE(a.Active());
        EXPECT_EQ(Bytes(zip), before);
        EXPECT_EQ(Bytes(record), kept);
        Open(a, zip, dir, fmOpenRead | fmShareDenyNone);
        a.CloseArchive();
    };
    // Another archive under the same name.
    const std::string cut = Bytes(zip);
    ziptest::Put(zip, std::string(5000, 'x'));
    refused("another file");
    // The old bytes damaged.
    ziptest::Put(zip, cut);
    std::string damaged = armed;
    damaged[10] ^= 1;
    ziptest::Put(record, damaged);
    refused("damaged bytes");
    // Put back once the record is whole again.
    ziptest::Put(record, armed);
    {
        TZipArchiver a;
        Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_EQ(a.FileCount(), 3);
    }
    EXPECT_FALSE(fs::exists(record));

    // Never armed (no footer): the archive was not touched; a finished commit's: the archive is new.
    const std::string now = Bytes(zip);
    for (const std::string& leftover : {armed.substr(0, armed.size() - 32), [&] {
                                            std::string done = armed;
                                            done[done.size() - 4] = 2;
                                            return done;
                                        }()}) {
        ziptest::Put(record, leftover);
        TZipArchiver a;
        Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
        a.CloseArchive();
        EXPECT_FALSE(fs::exists(record));
        EXPECT_EQ(Bytes(zip), now);
    }
}

// Through a link, the record lies beside the archive the link names and is put back from there.
TEST(RollbackRecord, ThroughALinkTheRecordLiesBesideTheArchive) {
    ziptest::TempDir dir;
    const fs::path zip = Lay(dir);
    fs::create_directories(dir.path() / "links");
    const fs::path link = dir.path() / "links/mine.zip";
    fs::create_symlink(zip, link);
    const std::string old = Bytes(zip);
    ASSERT_TRUE(KilledAfterTheCut(link, dir, "replace"));
    EXPECT_TRUE(fs::exists(dir.path() / kRecord));
    EXPECT_TRUE(fs::is_empty(dir.path() / "links/") || fs::directory_iterator(dir.path() / "links")->path() == link);
    {
        TZipArchiver a;
        Open(a, link, dir, fmOpenReadWrite | fmShareDenyWrite);
        a.CloseArchive();
    }
    EXPECT_EQ(Bytes(zip), old);
    EXPECT_FALSE(fs::exists(dir.path() / kRecord));
    EXPECT_TRUE(fs::is_symlink(link));
}

// Two processes writing one archive: the second open for writing is refused at once while the first
// holds the archive, readers are not; the first's commit and the second's retry both land.
TEST(WriteLock, ASecondWriterIsRefusedUntilTheFirstCloses) {
    ziptest::TempDir dir;
    const fs::path zip = Lay(dir);
    int ready[2], go[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(go), 0);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        TZipArchiver a;
        Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
        char c = 1;
        if (::write(ready[1], &c, 1) != 1 || ::read(go[0], &c, 1) != 1) ::_exit(2);
        a.AddFiles(u"d.bin", 0x28BF, u"");
        a.CloseArchive();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    {
        std::string message;
        TZipArchiver a;
        EXPECT_EQ(NativeOf([&] { Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite); }, &message), 36);
        EXPECT_NE(message.find("locked by another process"), std::string::npos);
        EXPECT_EQ(NativeOf([&] { Open(a, zip, dir, fmCreate); }), 36);  // nor cut by a new archive
        Open(a, zip, dir, fmOpenRead | fmShareDenyNone);
        EXPECT_EQ(a.FileCount(), 3);
        a.CloseArchive();
    }
    ASSERT_EQ(::write(go[1], &c, 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    {
        TZipArchiver a;
        Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
        a.AddFiles(u"a.txt", 0x28BF, u"");
        a.CloseArchive();
    }
    EXPECT_FALSE(
        ziptest::PythonCheck(zip, ziptest::SourcePairs(dir.str() + "src/", {"a.txt", "b.bin", "c.txt", "d.bin"}))
            .empty());
    for (int fd : {ready[0], ready[1], go[0], go[1]}) ::close(fd);
}

// Many processes adding different files to one archive at the same moment, each trying again while
// refused: every item is there and the judges accept the archive.
TEST(WriteLock, ProcessesAddingAtOnceLoseNothing) {
    ziptest::TempDir dir;
    const fs::path zip = Lay(dir);
    constexpr int kWriters = 6;
    std::vector<std::string> members = {"b.bin", "c.txt"};
    for (int i = 0; i < kWriters; ++i) {
        const std::string name = "w" + std::to_string(i) + ".bin";
        dir.write("src/" + name, ziptest::Random(20000 + 3000 * static_cast<std::size_t>(i), 20 + i));
        members.push_back(name);
    }
    std::fflush(nullptr);
    std::vector<pid_t> pids;
    for (int i = 0; i < kWriters; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::u16string name = u"w" + UTF8DecodeWide(std::to_string(i)) + u".bin";
            for (int tries = 0; tries < 2000; ++tries) {
                try {
                    TZipArchiver a;
                    Open(a, zip, dir, fmOpenReadWrite | fmShareDenyWrite);
                    a.AddFiles(name, 0x28BF, u"");
                    a.CloseArchive();
                    ::_exit(0);
                } catch (const EZipException& e) {
                    if (e.NativeError != 36) ::_exit(3);
                    ::usleep(2000);
                }
            }
            ::_exit(4);
        }
        pids.push_back(pid);
    }
    for (const pid_t pid : pids) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    const std::string listing = ziptest::PythonCheck(zip, ziptest::SourcePairs(dir.str() + "src/", members));
    ASSERT_FALSE(listing.empty());
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), kWriters + 3);
    EXPECT_TRUE(ziptest::UnzipTest(zip));
    EXPECT_TRUE(ziptest::SevenZipTest(zip));
}
