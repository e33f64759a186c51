// Where an archive ends: the last volume of a set cut beside its volumes is never written as an
// archive of its own; a whole archive followed by stray bytes keeps its directory; a name with a
// long number after "_" is a volume's only beside a volume of its set.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/archiver.h"
#include "test_util.h"
#include "zip_judges.h"

using namespace zip;
namespace fs = std::filesystem;
using ziptest::Bytes;
using ziptest::NativeOf;

namespace {

// Every file of folder with its CRC.
std::map<std::string, std::uint32_t> Snapshot(const fs::path& folder) {
    std::map<std::string, std::uint32_t> files;
    for (const auto& e : fs::directory_iterator(folder))
        files[e.path().filename().string()] = ziptest::Crc(Bytes(e.path()));
    return files;
}

using ziptest::AddNewKml;

void Py(const ziptest::TempDir& dir, const std::string& script) {
    std::string out;
    ASSERT_EQ(ziptest::Python("import sys, os, zipfile, random\nos.chdir(sys.argv[1])\n" + script, {dir.str()}, &out),
              0)
        << out;
}

// A cut archive of a.txt and b.bin as python makes it, and the script that writes it to cut(name).
const char* const kCut = R"PY(
with zipfile.ZipFile('w.zip', 'w') as z:
    z.writestr('a.txt', 'hello\n' * 100, zipfile.ZIP_DEFLATED)
    z.writestr('b.bin', random.Random(1).randbytes(5000), zipfile.ZIP_STORED)
d = open('w.zip', 'rb').read(); os.remove('w.zip')
def cut(name): open(name, 'wb').write(d[:d.find(b'b.bin') + 2000])
)PY";

}  // namespace

// The last volume of a split set cut (by a kill, a copy or by hand) beside the set's volumes: an add
// is refused and a close writes nothing, never a one-volume archive of the new item alone. So for a
// cut file with a number of four digits beside a volume of its set.
TEST(ArchiveEnds, ACutLastVolumeIsNeverWrittenAlone) {
    ziptest::TempDir dir;
    dir.write("src/noise.bin", ziptest::Random(150000, 7));
    for (const char* name : {"track.zip", "trip.kmz"}) {
        const fs::path last = dir.path() / "set" / name;
        fs::create_directories(last.parent_path());
        ziptest::MakeZip(last, dir.path() / "src", [&](TZipArchiver& a) {
            ziptest::Split(a, 65536);
            a.SpanningOptions.AdvancedNaming = std::string(name) == "trip.kmz";  // trip_001.kmz ...
        });
        if (last.extension() == ".zip") ziptest::SetVolumes(last);  // ".z01" as other tools name them
        const std::string whole = Bytes(last);
        for (const std::size_t size : {std::size_t{0}, whole.size() / 2, whole.size() - 1}) {
            SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(size));
            fs::resize_file(last, size);
            const auto before = Snapshot(last.parent_path());
            EXPECT_EQ(AddNewKml(dir, last), 19);
            TZipArchiver a;
            a.FileName = UTF8DecodeWide(last.string());
            a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
            a.CloseArchive();
            EXPECT_EQ(Snapshot(last.parent_path()), before);
        }
        fs::remove_all(last.parent_path());
    }
    Py(dir, std::string(kCut) + "cut('big_1000.zip'); open('big_999.zip', 'wb').write(bytes(3000))\n");
    const std::string before = Bytes(dir.path() / "big_1000.zip");
    EXPECT_EQ(AddNewKml(dir, dir.path() / "big_1000.zip"), 19);
    EXPECT_EQ(Bytes(dir.path() / "big_1000.zip"), before);
}

// Cut archives that only look like volumes are repaired and written to: a name with four digits or
// more after "_" (a date as often) alone, and one beside files numbered as its volumes that are
// whole archives of their own (a user's backups).
TEST(ArchiveEnds, NamesThatOnlyLookLikeVolumesAreRepaired) {
    ziptest::TempDir dir;
    Py(dir, std::string(kCut) + R"PY(
for name in ['trip_2024.zip', 'log_20240701.zip', 'log.zip']: cut(name)
for name in ['log_001.zip', 'log.z01']:
    with zipfile.ZipFile(name, 'w') as z: z.writestr('x.txt', 'x')
)PY");
    for (const char* name : {"trip_2024.zip", "log_20240701.zip", "log.zip"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(AddNewKml(dir, dir.path() / name), -1);
        EXPECT_EQ(ziptest::PythonFields(dir.path() / name, "i.filename"), "a.txt\nnew.kml\n");
        EXPECT_TRUE(ziptest::SevenZipTest(dir.path() / name));
    }
}

// Stray bytes after a whole archive made by another tool: the add keeps the archive comment, every
// item comment and the attributes, and the outside tools accept the result. A directory that does
// not check out is still recovered from the local headers.
TEST(ArchiveEnds, StrayBytesAfterAWholeArchiveKeepItsDirectory) {
    ziptest::TempDir dir;
    Py(dir, R"PY(
def whole(name, stray):
    with zipfile.ZipFile(name, 'w') as z:
        z.comment = b'the archive comment'
        for n, data, method, attr, note in [
                ('a.txt', b'hello\n' * 100, zipfile.ZIP_DEFLATED, 0o100640 << 16, b'first'),
                ('run.sh', b'#!/bin/sh\necho\n', zipfile.ZIP_STORED, (0o100755 << 16) | 0x01, b'second'),
                ('sub/', b'', zipfile.ZIP_STORED, (0o40755 << 16) | 0x10, b'')]:
            i = zipfile.ZipInfo(n, (2024, 7, 1, 12, 0, 0))
            i.compress_type = method; i.create_system = 3; i.external_attr = attr; i.comment = note
            z.writestr(i, data)
    open(name, 'ab').write(stray)
whole('stray.zip', random.Random(5).randbytes(100))
whole('zeros.zip', bytes(100))
whole('fake_end.zip', b'PK\x05\x06' + random.Random(6).randbytes(96))
whole('fake_header.zip', b'PK\x03\x04' + random.Random(7).randbytes(96))
d = bytearray(open('stray.zip', 'rb').read())
d[zipfile.ZipFile('stray.zip').start_dir + 1] ^= 0xFF
open('broken_dir.zip', 'wb').write(d)
)PY");
    const std::string fields = "i.filename, i.comment.decode(), oct(i.external_attr >> 16), i.external_attr & 0xFF";
    for (const char* name : {"stray.zip", "zeros.zip", "fake_end.zip", "fake_header.zip"}) {
        SCOPED_TRACE(name);
        const fs::path zip = dir.path() / name;
        EXPECT_EQ(AddNewKml(dir, zip), -1);
        EXPECT_EQ(ziptest::PythonFields(zip, fields),
                  "a.txt first 0o100640 0\nrun.sh second 0o100755 1\nsub/  0o40755 16\nnew.kml  0o0 32\n");
        std::string comment;
        ziptest::Python("import sys, zipfile\nprint(zipfile.ZipFile(sys.argv[1]).comment.decode())", {zip.string()},
                        &comment);
        EXPECT_EQ(comment, "the archive comment\n");
        EXPECT_TRUE(ziptest::SevenZipTest(zip));
        EXPECT_TRUE(ziptest::UnzipTest(zip));
        EXPECT_FALSE(ziptest::PythonCheck(zip).empty());
    }
    const fs::path broken = dir.path() / "broken_dir.zip";
    EXPECT_EQ(AddNewKml(dir, broken), -1);
    EXPECT_EQ(ziptest::PythonFields(broken, "i.filename, i.comment.decode()"), "a.txt \nrun.sh \nsub/ \nnew.kml \n");
    EXPECT_TRUE(ziptest::SevenZipTest(broken));
}
