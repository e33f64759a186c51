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

// Every file of folder with its size and CRC.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file()) {
            const std::string bytes = Bytes(e.path());
            files[e.path().filename().string()] =
                std::to_string(bytes.size()) + " " + std::to_string(ziptest::Crc(bytes));
        }
    return files;
}

// Adds src/new.kml to zip with recovery on; the native error, -1 when it succeeded.
int AddTo(const ziptest::TempDir& dir, const fs::path& zip) {
    dir.write("src/new.kml", ziptest::Kml(40));
    TZipArchiver a;
    a.FileName = UTF8DecodeWide(zip.string());
    return NativeOf([&] {
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        a.BaseDir = dir.wide() + u"src";
        a.AddFiles(u"new.kml", 0x28BF, u"");
        a.CloseArchive();
    });
}

void Py(const ziptest::TempDir& dir, const std::string& script) {
    std::string out;
    ASSERT_EQ(ziptest::Python("import sys, os, zipfile, random\nos.chdir(sys.argv[1])\n" + script, {dir.str()}, &out),
              0)
        << out;
}

// A split set of three volumes or more in dir/set/, its last volume named name.
void MakeSet(const ziptest::TempDir& dir, const std::u16string& name, bool advanced) {
    dir.write("src/noise.bin", ziptest::Random(150000, 7));
    dir.write("src/a.kml", ziptest::Kml(300));
    fs::create_directories(dir.path() / "set");
    ziptest::MakeZip(dir.path() / "set" / WideToFsName(name), dir.path() / "src", [&](TZipArchiver& a) {
        ziptest::Split(a, 65536);
        a.SetCompressionMode(0);
        a.SpanningOptions.AdvancedNaming = advanced;
    });
}

}  // namespace

// The last volume cut (by a kill or a copy) beside the set's other volumes: an add is refused and
// leaves every volume as it was, and a close writes nothing; never a one-volume archive of the new
// item alone. Reading what is left stays possible.
TEST(ArchiveEnds, ACutLastVolumeBesideItsSetIsNotWrittenAlone) {
    struct Shape {
        const char16_t* name;
        bool advanced;
        bool lowerCase;  // volumes named ".z01" as other tools name them
    } shapes[] = {{u"track.zip", false, true}, {u"track.zip", false, false}, {u"trip.kmz", true, false}};
    for (const Shape& shape : shapes) {
        ziptest::TempDir dir;
        MakeSet(dir, shape.name, shape.advanced);
        const fs::path set = dir.path() / "set", last = set / WideToFsName(shape.name);
        if (shape.lowerCase) ziptest::SetVolumes(last);
        ASSERT_GE(Snapshot(set).size(), 3u);
        const std::string whole = Bytes(last);
        for (const std::size_t size : {std::size_t{0}, std::size_t{100}, whole.size() / 2, whole.size() - 1}) {
            SCOPED_TRACE(WideToFsName(shape.name) + " cut to " + std::to_string(size));
            fs::resize_file(last, size);
            const auto before = Snapshot(set);
            EXPECT_EQ(AddTo(dir, last), 19);
            EXPECT_EQ(Snapshot(set), before);
            {
                TZipArchiver a;
                a.FileName = UTF8DecodeWide(last.string());
                a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
                EXPECT_GE(a.FileCount(), 0);
                a.CloseArchive();
            }
            EXPECT_EQ(Snapshot(set), before);
            ziptest::Put(last, whole);
        }
        // Whole again, it opens as the set.
        TZipArchiver a;
        a.FileName = UTF8DecodeWide(last.string());
        a.OpenArchive(fmOpenReadWrite | fmShareDenyWrite);
        EXPECT_EQ(a.SpanningMode(), smSplitting);
        EXPECT_EQ(a.FileCount(), 2);
    }
}

// A cut archive beside files numbered like volumes that are whole archives of their own (a user's
// backups) is no set's last volume: it is repaired and written to.
TEST(ArchiveEnds, NumberedBackupsBesideACutArchiveMakeNoSet) {
    ziptest::TempDir dir;
    Py(dir, R"PY(
def whole(name):
    with zipfile.ZipFile(name, 'w') as z:
        z.writestr('a.txt', 'hello\n' * 100, zipfile.ZIP_DEFLATED)
        z.writestr('b.bin', random.Random(1).randbytes(5000), zipfile.ZIP_STORED)
    return open(name, 'rb').read(), zipfile.ZipFile(name)
d, z = whole('log.zip')
whole('log_001.zip'); whole('log.z01')
open('log.zip', 'wb').write(d[:z.getinfo('b.bin').header_offset + 30 + 5 + 2000])
)PY");
    const std::string backup = Bytes(dir.path() / "log_001.zip");
    EXPECT_EQ(AddTo(dir, dir.path() / "log.zip"), -1);
    EXPECT_EQ(ziptest::PythonFields(dir.path() / "log.zip", "i.filename"), "a.txt\nnew.kml\n");
    EXPECT_EQ(Bytes(dir.path() / "log_001.zip"), backup);
}

// Names with four digits or more after "_" are dated names as often as volumes: such an archive cut
// alone is repaired; beside a volume of its set (the number before it, with no end record of its
// own) it stays one.
TEST(ArchiveEnds, ALongNumberMakesAVolumeOnlyBesideItsSet) {
    ziptest::TempDir dir;
    Py(dir, R"PY(
with zipfile.ZipFile('w.zip', 'w') as z:
    z.writestr('a.txt', 'hello\n' * 100, zipfile.ZIP_DEFLATED)
    z.writestr('b.bin', random.Random(1).randbytes(5000), zipfile.ZIP_STORED)
d = open('w.zip', 'rb').read(); cut = d[:zipfile.ZipFile('w.zip').getinfo('b.bin').header_offset + 30 + 5 + 2000]
os.remove('w.zip')
for name in ['trip_2024.zip', 'log_20240701.zip', 'big_1000.zip', 'day_0042.zip']:
    open(name, 'wb').write(cut)
open('big_999.zip', 'wb').write(random.Random(2).randbytes(3000))
open('day_0041.zip', 'wb').write(random.Random(3).randbytes(3000))
)PY");
    for (const char* name : {"trip_2024.zip", "log_20240701.zip"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(AddTo(dir, dir.path() / name), -1);
        EXPECT_EQ(ziptest::PythonFields(dir.path() / name, "i.filename"), "a.txt\nnew.kml\n");
        EXPECT_TRUE(ziptest::SevenZipTest(dir.path() / name));
    }
    for (const char* name : {"big_1000.zip", "day_0042.zip"}) {
        SCOPED_TRACE(name);
        const std::string before = Bytes(dir.path() / name);
        EXPECT_EQ(AddTo(dir, dir.path() / name), 19);
        EXPECT_EQ(Bytes(dir.path() / name), before);
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
    const std::string kept = "a.txt first 0o100640 0\nrun.sh second 0o100755 1\nsub/  0o40755 16\n";
    for (const char* name : {"stray.zip", "zeros.zip", "fake_end.zip", "fake_header.zip"}) {
        SCOPED_TRACE(name);
        const fs::path zip = dir.path() / name;
        EXPECT_EQ(AddTo(dir, zip), -1);
        const std::string listed = ziptest::PythonFields(zip, fields);
        EXPECT_EQ(listed.substr(0, kept.size()), kept);
        EXPECT_NE(listed.find("\nnew.kml "), std::string::npos) << listed;
        std::string comment;
        ziptest::Python("import sys, zipfile\nprint(zipfile.ZipFile(sys.argv[1]).comment.decode())", {zip.string()},
                        &comment);
        EXPECT_EQ(comment, "the archive comment\n");
        EXPECT_TRUE(ziptest::SevenZipTest(zip));
        EXPECT_TRUE(ziptest::UnzipTest(zip));
        EXPECT_FALSE(ziptest::PythonCheck(zip).empty());
    }
    const fs::path broken = dir.path() / "broken_dir.zip";
    EXPECT_EQ(AddTo(dir, broken), -1);
    EXPECT_EQ(ziptest::PythonFields(broken, "i.filename, i.comment.decode()"), "a.txt \nrun.sh \nsub/ \nnew.kml \n");
    EXPECT_TRUE(ziptest::SevenZipTest(broken));
}
