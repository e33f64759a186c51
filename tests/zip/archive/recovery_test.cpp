// Recovery of damaged archives of one file: a cut archive, stray bytes after a whole one and a
// user's numbered backups are repaired and written to; an item whose data cannot be whole is left
// out, so that the archive an add writes is one the outside tools accept.
#include <filesystem>
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

// Runs a Python script in folder (its first argument) that makes archives there.
void Make(const ziptest::TempDir& dir, const std::string& script) {
    std::string out;
    ASSERT_EQ(ziptest::Python("import sys, os, zipfile, zlib, struct, random\nos.chdir(sys.argv[1])\n" + script,
                              {dir.str()}, &out),
              0)
        << out;
}

using ziptest::AddNewKml;

// The members as Python lists them, and whether 7z and unzip test the archive clean.
std::string Judged(const fs::path& zip) {
    std::string text = ziptest::PythonFields(zip, "i.filename");
    EXPECT_TRUE(ziptest::SevenZipTest(zip)) << zip;
    EXPECT_TRUE(ziptest::UnzipTest(zip)) << zip;
    return text;
}

// An archive of a.txt (deflated) and b.bin (stored, 5000 bytes), as the issue's damage starts from.
const char* const kWhole = R"PY(
def whole(name):
    with zipfile.ZipFile(name, 'w') as z:
        z.writestr('a.txt', 'hello\n' * 100, zipfile.ZIP_DEFLATED)
        z.writestr('b.bin', random.Random(1).randbytes(5000), zipfile.ZIP_STORED)
    return open(name, 'rb').read(), zipfile.ZipFile(name)
)PY";

}  // namespace

// Not named as a volume of a set, a damaged archive is one archive: its cut item is dropped, the
// rest kept and the add written. So too for a user's numbered backups beside whole ones.
TEST(Recovery, DamagedSingleArchivesAreRepairedAndWrittenTo) {
    ziptest::TempDir dir;
    Make(dir, std::string(kWhole) + R"PY(
d, z = whole('whole.zip')
b = z.getinfo('b.bin')
open('cut.zip', 'wb').write(d[:b.header_offset + 30 + 5 + 2000])
open('stray.zip', 'wb').write(d + b'PK\x03\x04' + random.Random(2).randbytes(100))
whole('backup2_001.zip')
open('backup2_002.zip', 'wb').write(d[:z.start_dir + 30])
whole('backup3_001.zip')
open('backup3_002.zip', 'wb').write(d[:b.header_offset + 30 + 5 + 2000])
)PY");
    const std::string keptFirst = Bytes(dir.path() / "backup2_001.zip");
    struct Case {
        const char* name;
        const char* members;
    } cases[] = {{"cut.zip", "a.txt\nnew.kml\n"},
                 {"stray.zip", "a.txt\nb.bin\nnew.kml\n"},
                 {"backup2_002.zip", "a.txt\nb.bin\nnew.kml\n"},
                 {"backup3_002.zip", "a.txt\nnew.kml\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path zip = dir.path() / c.name;
        EXPECT_EQ(AddNewKml(dir, zip), -1);
        EXPECT_EQ(Judged(zip), c.members);
    }
    EXPECT_EQ(Bytes(dir.path() / "backup2_001.zip"), keptFirst);
}

// Each damaged item sits between a whole one and a whole stored one: recovery takes those two
// alone, and the archive the add writes passes the outside tools.
TEST(Recovery, NoItemWhoseDataCannotBeWholeIsKept) {
    ziptest::TempDir dir;
    Make(dir, R"PY(
with zipfile.ZipFile('w.zip', 'w') as z: z.writestr('a.txt', 'hello\n' * 300, zipfile.ZIP_DEFLATED)
d = open('w.zip', 'rb').read(); s = zipfile.ZipFile('w.zip').start_dir
src = random.Random(4).randbytes(20000)
comp = zlib.compressobj(6, zlib.DEFLATED, -15).compress(src) + b''
def local(name, method, crc, csize, usize, flags=0, extra=b'', version=20):
    return struct.pack('<IHHHHHIIIHH', 0x04034b50, version, flags, method, 0, 0x5821, crc, csize, usize,
                       len(name), len(extra)) + name + extra
good = local(b'good.txt', 0, zlib.crc32(b'good'), 4, 4) + b'good'
packed = zlib.compressobj(6, zlib.DEFLATED, -15)
packed = packed.compress(b'text ' * 400) + packed.flush()
bent = bytearray(packed); bent[len(bent) // 2] ^= 0x40
bad = {
  # the item writer's first header, killed before its rewrite, with and without the Zip64 extra
  'placeholder': local(b'new.bin', 8, 0xFFFFFFFF, 0, 20000) + comp[:3000],
  'placeholder64': local(b'new.bin', 8, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0,
                         struct.pack('<HHQQ', 1, 16, 0, 0), 45) + comp[:3000],
  'stored sizes differ': local(b's.bin', 0, zlib.crc32(b'0123456789'), 10, 20) + b'0123456789',
  'stored bad CRC': local(b's.bin', 0, 1234, 10, 10) + b'0123456789',
  'deflated bad CRC': local(b'p.txt', 8, zlib.crc32(b'text ' * 400), len(bent), 2000) + bytes(bent),
  'deflated, size past the next header':
      local(b'p.txt', 8, zlib.crc32(b'text ' * 400), len(packed) + 40, 2000) + packed,
  'encrypted over the next header': local(b'e.bin', 8, 77, 40, 30, 1) + b'\x11' * 8,
  'empty but a CRC': local(b'x.txt', 0, 0xFFFFFFFF, 0, 0),
}
for i, v in enumerate(bad.values()):
    open('bad%d.zip' % i, 'wb').write(d[:s] + v + good)
# The issue's own: a placeholder at the end.
open('half.zip', 'wb').write(d[:s] + bad['placeholder'])
)PY");
    for (int i = 0; i < 8; ++i) {
        const fs::path zip = dir.path() / ("bad" + std::to_string(i) + ".zip");
        SCOPED_TRACE(zip.filename());
        {
            TZipArchiver r;
            r.FileName = UTF8DecodeWide(zip.string());
            r.OpenArchive(fmOpenRead);
            EXPECT_EQ(r.FileCount(), 2);
        }
        EXPECT_EQ(AddNewKml(dir, zip), -1);
        EXPECT_EQ(Judged(zip), "a.txt\ngood.txt\nnew.kml\n");
    }
    const fs::path half = dir.path() / "half.zip";
    EXPECT_EQ(AddNewKml(dir, half), -1);
    EXPECT_EQ(Judged(half), "a.txt\nnew.kml\n");
}
