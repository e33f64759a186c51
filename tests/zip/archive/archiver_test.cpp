#include "archive/archiver.h"

#include <regex>

#include <gtest/gtest.h>

#include "test_util.h"
#include "text/wide_files.h"

using namespace zip;
using ziptest::Bytes;
using ziptest::NativeOf;

namespace {

// Stands in for the file selection and the commit, which are the lower layers' work: the add
// step runs a script on the item array, and commits are counted.
class ScriptedArchiver : public TZipArchiver {
public:
    int commits = 0;
    std::function<void(TZipDirArray&)> onAdd;
    std::vector<std::u16string> exclusionsSeen;

protected:
    void CommitChanges() override {
        if (UpdateDepth >= 1) ++commits;
        UpdateDepth = 0;  // the scripted items have no data to write
    }
    void AddFilesInternal(TUniStrings&, int, bool, TUniStrings& exclusions) override {
        exclusionsSeen.clear();
        for (int i = 0; i < exclusions.Count(); ++i) exclusionsSeen.push_back(exclusions[i]);
        if (onAdd) onAdd(DirManager()->Items);
    }
};

// A scripted archiver on a new archive in a scratch folder.
struct OpenScripted : ScriptedArchiver {
    ziptest::TempDir dir;
    OpenScripted() {
        FileName = dir.wide() + u"t.kmz";
        OpenArchive(fmCreate);
    }
};

TDirItem NewItem(const std::u16string& name, std::uint32_t attr = faArchive) {
    TDirItem it;
    it.Header.Signature = TCentralHeader::kSignature;
    it.Header.Crc32 = 0xFFFFFFFF;
    it.Header.ExternalAttr = attr;
    it.Name = name;
    it.Pending = true;
    return it;
}

void AppendItem(TZipDirArray& items, const TDirItem& item) {
    items.SetCount(items.GetCount() + 1);
    items.SetItem(items.GetCount() - 1, item);
}

class RecordingPrompter : public TZipPrompter {
public:
    std::vector<TModalResult> answers;
    std::vector<std::string> texts;
    TModalResult MessageDlg(const std::string& text, unsigned) override {
        texts.push_back(text);
        if (answers.empty()) return mrCancel;
        const TModalResult r = answers.front();
        answers.erase(answers.begin());
        return r;
    }
};

}  // namespace

TEST(Archiver, OpenErrorsAndEmptyArchives) {
    ziptest::TempDir dir;
    ScriptedArchiver a;
    a.SetCompressionMode(9);
    EXPECT_EQ(NativeOf([&] { a.SetCompressionMode(10); }), 5);  // refused, the old mode kept
    EXPECT_EQ(a.CompressionMode(), 9);
    EXPECT_EQ(NativeOf([&] { a.AddFiles(u"x", 0x28BF, u""); }), 13);
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmCreate); }), 10);  // no file name
    a.FileName = dir.wide() + u"missing.kmz";
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(0); }), 12);
    a.FileName = u"a:missing.zip";  // a relative name, no floppy drive
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(0); }), 12);
    EXPECT_EQ(NativeOf([&] { a.FileCount(); }), 13);
    TZipArchiveItem f;
    EXPECT_EQ(NativeOf([&] { a.FindFirst(u"*.*", f, 0, u""); }), 13);

    // An empty archive is its end record alone; the base archiver writes its own signature family.
    int opened = 0;
    a.AfterOpen = [&](TComponent*) { ++opened; };
    a.FileName = dir.wide() + u"t.kmz";
    a.OpenArchive(fmCreate);
    EXPECT_EQ(opened, 1);
    a.CloseArchive();
    EXPECT_FALSE(a.Active());
    EXPECT_EQ(Bytes(dir.path() / "t.kmz"), ziptest::EmptyZip());
    TZipBaseArchiver base;
    base.FileName = dir.wide() + u"b.zip";
    base.OpenArchive(fmCreate);
    base.CloseArchive();
    EXPECT_EQ(Bytes(dir.path() / "b.zip").substr(0, 4), std::string("AA\x05\x06", 4));
}

TEST(Archiver, InMemoryArchive) {
    ScriptedArchiver a;
    a.SetInMemory(true);
    a.OpenArchive(fmCreate);
    ASSERT_NE(a.ArchiveStream(), nullptr);
    EXPECT_EQ(a.ArchiveStream()->Size(), 0);
    EXPECT_EQ(NativeOf([&] { a.SetInMemory(false); }), 29);  // no file name to save to

    // Leaving memory saves the archive, its directory included, to FileName.
    ziptest::TempDir dir;
    a.FileName = dir.wide() + u"saved.zip";
    a.SetInMemory(false);  // and reopens it from there
    EXPECT_FALSE(a.InMemory());
    EXPECT_TRUE(a.Active());
    EXPECT_EQ(a.FileCount(), 0);
    EXPECT_EQ(Bytes(dir.path() / "saved.zip"), ziptest::EmptyZip());
    a.CloseArchive();

    dir.write("old.zip", "x");
    a.SetInMemory(true);
    a.FileName = dir.wide() + u"old.zip";
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmOpenRead); }), 28);

    // Volumes are files: a set in memory is refused before any of it can be lost.
    a.FileName = dir.wide() + u"m.zip";
    ziptest::Split(a, 65536);
    EXPECT_EQ(NativeOf([&] { a.OpenArchive(fmCreate); }), 51);
    EXPECT_FALSE(a.Active());
    a.SetInMemory(false);
    a.OpenArchive(fmCreate);
    EXPECT_EQ(NativeOf([&] { a.SetInMemory(true); }), 51);
    EXPECT_TRUE(a.Active());
    EXPECT_FALSE(a.InMemory());
    a.CloseArchive();
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "m.zip"));
}

// Outside a transaction each add commits at once; nested transactions commit once, at the
// outermost end.
TEST(Archiver, AddsCommitAtOnceOrAtTheOutermostEnd) {
    OpenScripted a;
    a.onAdd = [&](TZipDirArray& items) {
        AppendItem(items, NewItem(u"n" + std::u16string(1, char16_t(u'a' + items.GetCount()))));
    };
    for (int i = 0; i < 3; ++i) a.AddFiles(a.dir.wide() + u"f.txt", 0x28BF, u"");
    EXPECT_EQ(a.commits, 3);
    EXPECT_TRUE(a.TransactionDone);
    // The archive itself is always excluded, resolved to a full path.
    EXPECT_EQ(a.exclusionsSeen, (std::vector<std::u16string>{a.FileName}));
    a.AddFiles(u"x", 0x28BF, u"*.bak");
    EXPECT_EQ(a.exclusionsSeen, (std::vector<std::u16string>{u"*.bak", a.FileName}));

    a.BeginUpdate();
    a.BeginUpdate();
    a.AddFiles(u"1", 0x28BF, u"");
    a.AddFiles(u"2", 0x28BF, u"");
    a.EndUpdate();
    EXPECT_EQ(a.commits, 4);
    EXPECT_EQ(a.UpdateDepth, 1);
    a.EndUpdate();
    EXPECT_EQ(a.commits, 5);
    EXPECT_EQ(a.UpdateDepth, 0);
    a.EndUpdate();  // nothing open: no-op
    EXPECT_EQ(a.commits, 5);
    EXPECT_EQ(a.FileCount(), 6);
}

TEST(Archiver, CancelRestoresTheItemsOfAFailedAdd) {
    OpenScripted a;
    a.onAdd = [&](TZipDirArray& items) { AppendItem(items, NewItem(u"kept.kml")); };
    a.AddFiles(u"kept.kml", 0x28BF, u"");
    a.onAdd = [&](TZipDirArray& items) {
        AppendItem(items, NewItem(u"half.png"));  // inserted, then the add fails
        throw EZipException::CreateNative(33, nullptr);
    };
    EXPECT_EQ(NativeOf([&] { a.AddFiles(u"half.png", 0x28BF, u""); }), 33);
    EXPECT_EQ(a.UpdateDepth, 0);
    TZipDirArray& items = a.DirManager()->Items;
    ASSERT_EQ(items.GetCount(), 1);
    EXPECT_EQ(items.GetItem(0).Name, u"kept.kml");
    EXPECT_FALSE(items.GetItem(0).Pending);  // the backup was taken with pending flags cleared
    int index = -1;
    EXPECT_FALSE(items.FindItem(u"half.png", index));

    // An explicit cancel of a nested transaction undoes everything since the outermost begin.
    a.onAdd = [&](TZipDirArray& it) { AppendItem(it, NewItem(u"later.png")); };
    a.BeginUpdate();
    a.BeginUpdate();
    a.AddFiles(u"later.png", 0x28BF, u"");
    a.CancelUpdate();
    EXPECT_EQ(a.UpdateDepth, 0);
    EXPECT_EQ(a.FileCount(), 1);
    EXPECT_EQ(a.commits, 1);
}

// A volume set cannot change its spanning mode once open, and takes one transaction at a time.
TEST(Archiver, MultiVolumeTransactions) {
    ziptest::TempDir dir;
    ScriptedArchiver a;
    a.SetSpanningMode(smSplitting);
    a.FileName = dir.wide() + u"t.zip";
    a.OpenArchive(fmCreate);
    EXPECT_THROW(a.SetSpanningMode(smNone), std::runtime_error);
    a.BeginUpdate();
    a.EndUpdate();
    EXPECT_EQ(a.OpenMode, fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_EQ(NativeOf([&] { a.BeginUpdate(); }), 62);
}

TEST(Archiver, FindFirstAndFileCount) {
    OpenScripted a;
    a.onAdd = [&](TZipDirArray& items) {
        TDirItem doc = NewItem(u"Doc.KML");
        doc.Header.CompressedSize = 25;
        doc.Header.UncompressedSize = 100;
        doc.Header.Flags = 1;
        doc.Comment = "c";
        AppendItem(items, doc);
        AppendItem(items, NewItem(u"icons/", faDirectory));
        TDirItem big = NewItem(u"icons/a.kml");
        big.Header.CompressedSize = big.Header.UncompressedSize = 0xFFFFFFFF;
        big.CompressedSize64 = 6000000000ULL;
        big.UncompressedSize64 = 5000000000ULL;
        AppendItem(items, big);
        AppendItem(items, NewItem(u"hidden.kml", faHidden | faArchive));
        AppendItem(items, NewItem(u"readme"));
    };
    a.AddFiles(u"x", 0x28BF, u"");
    EXPECT_EQ(a.FileCount(), 4);  // five items, one folder
    EXPECT_TRUE(a.Options.Recurse);

    auto names = [&](const std::u16string& mask, int attr, const std::u16string& ex) {
        std::vector<std::u16string> v;
        TZipArchiveItem f;
        for (bool ok = a.FindFirst(mask, f, attr, ex); ok; ok = a.FindNext(f)) v.push_back(f.StoredPath + f.FileName);
        return v;
    };
    EXPECT_EQ(names(u"*.kml", 0, u""), (std::vector<std::u16string>{u"Doc.KML", u"icons/a.kml"}));
    EXPECT_EQ(names(u"*.kml", faHidden, u"doc*"), (std::vector<std::u16string>{u"icons/a.kml", u"hidden.kml"}));
    EXPECT_EQ(names(u"*.", 0, u""), (std::vector<std::u16string>{u"readme"}));
    EXPECT_EQ(names(u"*.*", faDirectory, u"*.kml"), (std::vector<std::u16string>{u"icons/", u"readme"}));
    EXPECT_EQ(names(u"", 0xFF, u""), (std::vector<std::u16string>{}));
    a.Options.Recurse = false;
    EXPECT_EQ(names(u"*.kml", 0, u""), (std::vector<std::u16string>{u"Doc.KML"}));
    EXPECT_EQ(names(u"ICONS/*", 0, u""), (std::vector<std::u16string>{u"icons/a.kml"}));
    // A ":" in the mask is part of a name: no drive is cut off.
    EXPECT_EQ(names(u"C:icons/*.kml", 0, u""), (std::vector<std::u16string>{}));

    TZipArchiveItem f;
    a.Options.Recurse = true;
    ASSERT_TRUE(a.FindFirst(u"doc.kml", f, 0, u""));
    EXPECT_EQ(f.CompressedSize, 25);
    EXPECT_DOUBLE_EQ(f.CompressionRate, 75.0);
    EXPECT_TRUE(f.Encrypted);
    EXPECT_EQ(f.CRC, 0xFFFFFFFFu);
    EXPECT_EQ(f.Comment, "c");
    EXPECT_FALSE(f.Wildcards);
    EXPECT_FALSE(a.FindNext(f));
    EXPECT_EQ(f.ItemIndex, 0);  // kept on failure
    ASSERT_TRUE(a.FindFirst(u"a.kml", f, 0, u""));
    EXPECT_EQ(f.UncompressedSize, 5000000000LL);
    EXPECT_EQ(f.CompressionRate, 0.0);  // negative rates read 0
    ASSERT_TRUE(a.FindFirst(u"readme", f, 0, u""));
    EXPECT_EQ(f.CompressionRate, 100.0);
    // A mask longer than any fixed buffer is searched whole.
    EXPECT_FALSE(a.FindFirst(std::u16string(1000, u'x') + u"*", f, 0, u""));
    EXPECT_EQ(f.FileMask.size(), 1001u);
}

// Without handlers or a prompter nothing blocks; a prompter's answers become the actions.
TEST(Archiver, DefaultHandlersAnswerWithoutBlocking) {
    TZipArchiver a;
    bool confirm = false, skip = false, cancel = false;
    std::u16string dest = u"d";
    std::string pw = "old";
    TZipAction action = fxaRetry;
    a.Options.OverwriteMode = omPrompt;
    a.DoOnConfirmOverwrite(u"s", dest, confirm);
    EXPECT_TRUE(confirm);
    a.DoOnPassword(u"f", pw, skip);
    EXPECT_TRUE(skip);
    a.DoOnProcessFileFailure(u"f", poAdd, 33, 12, u"boom", action);
    EXPECT_EQ(action, fxaAbort);
    a.DoOnDiskFull(0, u"/tmp/x", cancel);
    EXPECT_TRUE(cancel);

    RecordingPrompter p;
    a.Prompter = &p;
    p.answers = {mrNoToAll};
    a.DoOnConfirmOverwrite(u"src", dest, confirm);
    EXPECT_FALSE(confirm);
    EXPECT_EQ(a.Options.OverwriteMode, omNever);
    p.answers = {mrRetry};
    a.DoOnProcessFileFailure(u"f", poAdd, 33, 12, u"Disk error", action);
    EXPECT_EQ(action, fxaRetry);
    p.answers = {mrIgnore};
    a.DoOnProcessFileFailure(u"f", poAdd, 61, 36, u"too long", action);
    EXPECT_EQ(action, fxaIgnore);

    // Spanned: the last-disk question repeats while the disk lacks the file and OK is pressed.
    a.SetSpanningMode(smSpanning);
    a.FileName = u"/nonexistent/t.zip";
    p.texts.clear();
    p.answers = {mrOk, mrOk, mrCancel};
    std::u16string vol;
    a.DoOnRequestLastVolume(vol, cancel);
    EXPECT_TRUE(cancel);
    const std::string notFound =
        "File '/nonexistent/t.zip' not found on inserted disk. Please insert last disk with required file";
    EXPECT_EQ(p.texts, (std::vector<std::string>{"Please insert the last disk", notFound, notFound}));
    // The other disk questions; OK goes on, anything else cancels.
    a.SpanningOptions.VolumeSize = vs1_44MB;
    p.texts.clear();
    p.answers = {mrOk, mrCancel, mrOk, mrOk};
    a.DoOnRequestBlankVolume(0, vol, cancel);
    EXPECT_FALSE(cancel);
    a.DoOnRequestMiddleVolume(1, vol, cancel);
    EXPECT_TRUE(cancel);
    a.DoOnRequestFirstVolume(vol, cancel);
    EXPECT_FALSE(cancel);
    a.DoOnDiskFull(2, u"/tmp/x", cancel);
    EXPECT_FALSE(cancel);
    ASSERT_EQ(p.texts.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(p.texts.begin(), p.texts.begin() + 3),
              (std::vector<std::string>{"Please insert a blank disk #1", "Please insert disk #2",
                                        "Please insert the first disk"}));
    EXPECT_TRUE(std::regex_match(p.texts[3], std::regex("Disk is full\\. Required free space: 1457664 bytes, but "
                                                        "available only: [0-9]+ bytes\\. Clean the disk or find "
                                                        "another blank disk")))
        << p.texts[3];
    // Handlers get disk numbers counted from 1.
    int handlerNumber = -1;
    a.OnRequestBlankVolume = [&](TComponent*, int n, std::u16string&, bool&) { handlerNumber = n; };
    a.DoOnRequestBlankVolume(4, vol, cancel);
    EXPECT_EQ(handlerNumber, 5);
}

TEST(Archiver, VolumeNames) {
    // The plain and the advanced names are read back in the volume set tests; a stub's first
    // volume takes its extension, and the base archiver its own letter.
    TZipArchiver a;
    a.FileName = u"/d/track.kmz";
    a.SetSpanningMode(smSplitting);
    a.SpanningOptions.AdvancedNaming = true;
    a.SFXStub = u"/d/stub.exe";
    EXPECT_EQ(a.VolumeFileName(0, false), u"/d/track.exe");
    // The last volume keeps the set's name, unless that is the stub's: "t.ZIP" would not reopen
    // as "t.zip" where case counts.
    EXPECT_EQ(a.VolumeFileName(-1, false), u"/d/track.kmz");
    a.FileName = u"/d/track.exe";
    EXPECT_EQ(a.VolumeFileName(-1, false), u"/d/track.ZIP");
    TZipBaseArchiver b;
    b.FileName = u"/d/track.kmz";
    b.SetSpanningMode(smSplitting);
    EXPECT_EQ(b.VolumeFileName(2, false), u"/d/track.F03");
}
