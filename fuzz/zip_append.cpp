// Appending to whatever the reader accepted: open the bytes read-write (the first byte picks
// recovery and an encrypted add), add one entry, close; the archive must reopen and give the entry
// back whole. An archive that opened without recovery before must do so after, with one entry more;
// one that needed recovery keeps needing it (its damaged entries are carried over as they were).
#include "archive/archiver.h"
#include "archive/dir_manager.h"
#include "text/errors.h"
#include "text/streams.h"
#include "text/wide_files.h"
#include "text/wide_text.h"
#include "zip_extract.h"

namespace {

std::unique_ptr<zip::TZipArchiver> Open(const std::filesystem::path& p, bool repair, uint16_t mode) {
    auto a = std::make_unique<zip::TZipArchiver>();
    a->OpenDamaged = repair;
    a->FileName = zip::UTF8DecodeWide(p.string());
    a->OpenArchive(mode);
    return a;
}

int IndexOf(zip::TZipDirManager& dm, const std::u16string& name) {
    for (int i = 0; i < dm.Items.GetCount(); ++i)
        if (dm.Items.GetItem(i).Name == name) return i;
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 64 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    const std::filesystem::path zipPath = dir / "a.zip";
    fuzz::WriteBytes(zipPath, data + 1, size - 1);
    const std::string added = "added track.kml", content = "<kml>added</kml>\n" + std::string(300, 'k');
    fuzz::WriteBytes(dir / added, content.data(), content.size());
    const bool repair = data[0] & 1;
    const std::string password = data[0] & 2 ? "secret" : "";

    bool cleanBefore = true;
    try {
        Open(zipPath, false, zip::fmOpenRead);
    } catch (const std::exception&) {
        cleanBefore = false;
    }
    int before = 0;
    bool present = false;
    try {
        auto a = Open(zipPath, repair, zip::fmOpenReadWrite | zip::fmShareDenyWrite);
        before = a->DirManager()->Items.GetCount();
        present = IndexOf(*a->DirManager(), zip::UTF8DecodeWide(added)) >= 0;
        a->BaseDir = zip::UTF8DecodeWide(dir.string());
        a->SetPassword(password);
        a->AddFiles(zip::UTF8DecodeWide(added), 0x28BF, u"");
        a->CloseArchive();
    } catch (const zip::EZipException&) {
        return 0;
    } catch (const zip::EStreamError&) {
        return 0;
    }

    std::unique_ptr<zip::TZipArchiver> b;
    try {
        b = Open(zipPath, !cleanBefore, zip::fmOpenRead);
    } catch (const std::exception& e) {
        fuzz::Fail(std::string("the archive does not reopen after an add: ") + e.what());
    }
    zip::TZipDirManager& dm = *b->DirManager();
    if (cleanBefore)
        fuzz::Check(
            dm.Items.GetCount() == before + (present ? 0 : 1),
            "entries before " + std::to_string(before) + ", after the add " + std::to_string(dm.Items.GetCount()));
    const int i = IndexOf(dm, zip::UTF8DecodeWide(added));
    fuzz::Check(i >= 0, "the added entry is missing");
    const fuzz::Extracted x = fuzz::ExtractItem(fuzz::ReadBytes(zipPath), dm.Items.GetItem(i), password);
    fuzz::Check(x.read && x.crcOk && x.data == content, "the added entry does not read back");
    return 0;
}
