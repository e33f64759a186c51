// Opening a split set by any of its volume names: the input (after two bytes) is cut into the
// volumes of a set (the first byte picks ".Z01" or "_001" names and two to five volumes, the second
// moves the cuts), and each volume's name is opened read-write with recovery and given one entry.
// An open or add that fails changes no byte of any volume, and no add goes into a volume read on
// its own whose set's last volume counts it.
#include <cstdio>
#include <map>

#include "archive/archiver.h"
#include "text/errors.h"
#include "text/streams.h"
#include "text/wide_text.h"
#include "zip_extract.h"

namespace {

// The disk number of the last volume's end record, found as the component finds it (the last
// signature whose comment length matches the bytes after it); -1 without one.
long LastDisk(const std::string& b) {
    if (b.size() < 22) return -1;
    const size_t lowest = b.size() > 65600 ? b.size() - 65600 : 0;
    for (size_t i = b.size() - 22 + 1; i-- > lowest;)
        if (fuzz::Le(b, i, 4) == 0x06054B50 && fuzz::Le(b, i + 20, 2) == b.size() - i - 22) {
            const long disk = static_cast<long>(fuzz::Le(b, i + 4, 2));
            return disk == 0xFFFF ? -1 : disk;
        }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 64 * 1024) return 0;
    const std::filesystem::path& dir = fuzz::FreshScratch();
    const bool numbered = data[0] & 1;
    const int count = 2 + ((data[0] >> 1) & 3);
    const size_t body = size - 2, piece = body / static_cast<size_t>(count);
    const size_t shift = piece > 0 ? data[1] % piece : 0;
    std::vector<std::filesystem::path> volumes;
    size_t at = 0;
    for (int n = 1; n <= count; ++n) {
        char name[24];
        if (n == count) std::snprintf(name, sizeof name, "t.zip");
        else std::snprintf(name, sizeof name, numbered ? "t_%03d.zip" : "t.Z%02d", n);
        const size_t end = n == count ? body : std::min(body, n * piece + (n == 1 ? shift : 0));
        volumes.push_back(dir / name);
        fuzz::WriteBytes(volumes.back(), data + 2 + at, end - at);
        at = end;
    }
    const std::string added = "added track.kml", content = "<kml>added</kml>\n";
    std::filesystem::create_directories(dir / "src");
    fuzz::WriteBytes(dir / "src" / added, content.data(), content.size());
    auto snapshot = [&] {
        std::map<std::string, std::string> s;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.is_regular_file()) s[e.path().filename().string()] = fuzz::ReadBytes(e.path());
        return s;
    };
    const long lastDisk = LastDisk(fuzz::ReadBytes(volumes.back()));

    for (int n = 1; n <= count; ++n) {
        const auto before = snapshot();
        zip::TZipArchiver a;
        bool alone = false;
        try {
            a.FileName = zip::UTF8DecodeWide(volumes[static_cast<size_t>(n - 1)].string());
            a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
            alone = a.SpanningMode() == zip::smNone;
            a.FileCount();
            a.BaseDir = zip::UTF8DecodeWide((dir / "src").string());
            a.AddFiles(zip::UTF8DecodeWide(added), 0x28BF, u"");
        } catch (const std::exception&) {
            // Compared before the close, which may give an empty file its empty directory.
            fuzz::Check(snapshot() == before, "a failed open or add changed the set, by volume " + std::to_string(n));
            continue;
        }
        fuzz::Check(!(alone && n < count && n <= lastDisk),
                    "volume " + std::to_string(n) + " of the set was written into on its own");
        try {
            a.CloseArchive();
        } catch (const std::exception&) {}
    }
    return 0;
}
