// The archive directory reader and its recovery: open the bytes as an archive (the first byte
// picks recovery on or off and the archiver class), list, search and read every entry back.
#include "archive/archiver.h"
#include "archive/dir_manager.h"
#include "text/errors.h"
#include "text/streams.h"
#include "text/wide_files.h"
#include "text/wide_text.h"
#include "zip_extract.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 256 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    fuzz::WriteBytes(dir / "a.zip", bytes.data(), bytes.size());

    std::unique_ptr<zip::TZipBaseArchiver> a =
        data[0] & 2 ? std::make_unique<zip::TZipArchiver>() : std::make_unique<zip::TZipBaseArchiver>();
    a->OpenDamaged = data[0] & 1;
    a->FileName = zip::UTF8DecodeWide((dir / "a.zip").string());
    try {
        a->OpenArchive(zip::fmOpenRead);
    } catch (const zip::EZipException&) {
        return 0;
    } catch (const zip::EStreamError&) {
        return 0;
    }
    zip::TZipDirManager& dm = *a->DirManager();
    fuzz::Check(dm.ArchiveStart >= 0 && dm.ArchiveStart <= int64_t(bytes.size()), "archive start outside the file");
    const int count = dm.Items.GetCount();
    fuzz::Check(a->FileCount() <= count, "FileCount exceeds the directory");  // folders are not counted
    int found = 0;
    zip::TZipArchiveItem f;
    for (bool more = a->FindFirst(u"*", f, 0x28BF, u""); more && found <= count; more = a->FindNext(f)) ++found;
    fuzz::Check(found <= count, "the search finds more entries than the directory holds");
    size_t total = 0;
    for (int i = 0; i < count && total < (8u << 20); ++i) {
        const zip::TDirItem& it = dm.Items.GetItem(i);
        zip::UTF8EncodeWide(it.Name);
        total += fuzz::ExtractItem(bytes, it, "secret").data.size();
    }
    return 0;
}
