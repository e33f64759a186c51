// Outside readers as judges of the archives we write: Python's zipfile, unzip, 7z and zipinfo.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace ziptest {

inline std::string Quote(const std::string& s) {
    std::string r = "'";
    for (char c : s) r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

// Runs a shell command; returns its exit status, with stdout and stderr in out.
inline int Run(const std::string& cmd, std::string* out = nullptr) { return RunCommand(cmd + " 2>&1", out); }

// Runs a Python script with the given arguments; returns its exit status, with its output in out.
inline int Python(const std::string& script, const std::vector<std::string>& args, std::string* out = nullptr) {
    std::string cmd = "python3 -c " + Quote(script);
    for (const auto& a : args) cmd += " " + Quote(a);
    return Run(cmd, out);
}

// Python's zipfile: a line per member, the expression expr over its ZipInfo i.
inline std::string PythonFields(const std::filesystem::path& zip, const std::string& expr) {
    std::string out;
    return Python("import sys, zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist(): print(" + expr + ")",
                  {zip.string()}, &out) == 0
               ? out
               : "failed: " + out;
}

// Python's zipfile, with the password if one is given: testzip passes, and each member named in
// pairs ("member=source file") holds exactly the source's bytes. Prints the member names, flags and
// extra tags, one line each, as "name|flag bits|method|extra tags" (central directory). Empty text
// means a failure.
inline std::string PythonCheck(const std::filesystem::path& zip, const std::vector<std::string>& pairs = {},
                               const std::string& password = "") {
    static const char* script = R"PY(
import sys, zipfile, struct
z = zipfile.ZipFile(sys.argv[1])
z.setpassword(sys.argv[2].encode())
bad = z.testzip()
if bad is not None:
    print('BAD', bad); sys.exit(1)
for pair in sys.argv[3:]:
    member, src = pair.split('=', 1)
    if z.read(member) != open(src, 'rb').read():
        print('DIFF', member); sys.exit(1)
for i in z.infolist():
    tags, p = [], 0
    while p + 4 <= len(i.extra):
        t, n = struct.unpack('<HH', i.extra[p:p+4]); tags.append('%04x' % t); p += 4 + n
    print('%s|%d|%d|%s' % (i.filename, i.flag_bits, i.compress_type, ','.join(tags)))
)PY";
    std::vector<std::string> args = {zip.string(), password};
    args.insert(args.end(), pairs.begin(), pairs.end());
    std::string out;
    return Python(script, args, &out) == 0 ? (out.empty() ? std::string("\n") : out) : std::string();
}

// A tool's exit status 0, its output (also in out) as the message either way.
inline testing::AssertionResult Judge(const std::string& cmd, std::string* out) {
    std::string text;
    const bool ok = Run(cmd, &text) == 0;
    if (out) *out = text;
    return (ok ? testing::AssertionSuccess() : testing::AssertionFailure()) << text.substr(0, 2000);
}

// "member=folder/member" pairs for PythonCheck.
inline std::vector<std::string> SourcePairs(const std::string& folder, const std::vector<std::string>& members) {
    std::vector<std::string> pairs;
    for (const std::string& m : members) pairs.push_back(m + "=" + folder + m);
    return pairs;
}

inline testing::AssertionResult UnzipTest(const std::filesystem::path& zip, std::string* out = nullptr,
                                          const std::string& password = "") {
    return Judge("unzip -tq " + (password.empty() ? "" : "-P " + Quote(password) + " ") + Quote(zip.string()), out);
}

// 7z with a command ("t", "x -o...") and the password if one is given.
inline testing::AssertionResult SevenZip(const std::string& command, const std::filesystem::path& zip,
                                         std::string* out = nullptr, const std::string& password = "") {
    return Judge(
        "7z " + command + " -bd " + (password.empty() ? "" : Quote("-p" + password) + " ") + Quote(zip.string()), out);
}

inline testing::AssertionResult SevenZipTest(const std::filesystem::path& zip, std::string* out = nullptr) {
    return SevenZip("t", zip, out);
}

// Python's zipfile listing of an encrypted archive, without reading it: per member
// "name|flag bit 0|method|CRC|AES extra data in hex".
inline std::string CipherListing(const std::filesystem::path& zip) {
    static const char* script = R"PY(
import sys, zipfile, struct
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    aes, p = '', 0
    while p + 4 <= len(i.extra):
        t, n = struct.unpack('<HH', i.extra[p:p+4])
        if t == 0x9901: aes = i.extra[p+4:p+4+n].hex()
        p += 4 + n
    print('%s|%d|%d|%d|%s' % (i.filename, i.flag_bits & 1, i.compress_type, i.CRC, aes))
)PY";
    std::string out;
    return Python(script, {zip.string()}, &out) == 0 ? out : "";
}

// Python decrypts each traditional header: its last two bytes are bits 16-31 of the CRC.
inline bool CheckBytesFromCrc(const std::filesystem::path& zip, const std::string& password) {
    static const char* script = R"PY(
import sys, zipfile, struct
z = zipfile.ZipFile(sys.argv[1]); f = open(sys.argv[1], 'rb')
for i in z.infolist():
    if not i.flag_bits & 1: continue
    f.seek(i.header_offset); n, e = struct.unpack('<HH', f.read(30)[26:30]); f.seek(i.header_offset + 30 + n + e)
    head = zipfile._ZipDecrypter(sys.argv[2].encode())(f.read(12))
    if head[10] != (i.CRC >> 16) & 0xFF or head[11] != i.CRC >> 24: sys.exit(1)
)PY";
    return Python(script, {zip.string(), password}) == 0;
}

// Joins the volumes of a split set (in disk order, the last one holding the directory) into one
// archive: the volumes back to back, then the directory again with absolute offsets.
inline bool JoinVolumes(const std::vector<std::filesystem::path>& volumes, const std::filesystem::path& out) {
    static const char* script = R"PY(
import sys, struct
out = sys.argv[1]
vols = [open(v, 'rb').read() for v in sys.argv[2:]]
base, acc = [], 0
for v in vols:
    base.append(acc); acc += len(v)
last = vols[-1]
e = last.rfind(b'PK\x05\x06')
_, thisd, dird, n1, n2, dsize, doff, cl = struct.unpack('<IHHHHIIH', last[e:e+22])
count = n2
if e >= 20 and last[e-20:e-16] == b'PK\x06\x07':
    zdisk, zoff, ndisks = struct.unpack('<IQI', last[e-16:e])
    z = vols[zdisk][zoff:zoff+56]
    _, _, _, _, _, dird, _, count, dsize, doff = struct.unpack('<IQHHIIQQQQ', z)
d = b''.join(vols)
p = base[dird] + doff
entries = []
for _ in range(count):
    f = list(struct.unpack('<IHHHHHHIIIHHHHHII', d[p:p+46]))
    nl, el, cl2 = f[10], f[11], f[12]
    name = d[p+46:p+46+nl]; extra = d[p+46+nl:p+46+nl+el]; comment = d[p+46+nl+el:p+46+nl+el+cl2]
    usize, csize, off, disk = f[9], f[8], f[16], f[13]
    q, others, had64 = 0, b'', False
    while q + 4 <= len(extra):
        t, n = struct.unpack('<HH', extra[q:q+4]); data = extra[q+4:q+4+n]
        if t == 1:
            had64 = True; r = 0
            if usize == 0xFFFFFFFF: usize = struct.unpack('<Q', data[r:r+8])[0]; r += 8
            if csize == 0xFFFFFFFF: csize = struct.unpack('<Q', data[r:r+8])[0]; r += 8
            if off == 0xFFFFFFFF: off = struct.unpack('<Q', data[r:r+8])[0]; r += 8
            if disk == 0xFFFF: disk = struct.unpack('<I', data[r:r+4])[0]; r += 4
        else:
            others += extra[q:q+4+n]
        q += 4 + n
    entries.append((f, name, others, comment, usize, csize, base[disk] + off, had64))
    p += 46 + nl + el + cl2
cd = b''
for f, name, others, comment, usize, csize, off, had64 in entries:
    if had64:
        z64 = struct.pack('<HHQQQ', 1, 24, usize, csize, off)
        f[8] = f[9] = f[16] = 0xFFFFFFFF
    else:
        z64 = b''; f[16] = off
    f[11] = len(z64) + len(others); f[13] = 0
    cd += struct.pack('<IHHHHHHIIIHHHHHII', *f) + name + z64 + others + comment
start = len(d)
tail = b''
if any(x[7] for x in entries) or count >= 0xFFFF:
    tail += struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 45, 45, 0, 0, count, count, len(cd), start)
    tail += struct.pack('<IIQI', 0x07064b50, 0, start + len(cd), 1)
n = min(count, 0xFFFF)
tail += struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, n, n, min(len(cd), 0xFFFFFFFF), min(start, 0xFFFFFFFF), 0)
open(out, 'wb').write(d + cd + tail)
)PY";
    std::vector<std::string> args = {out.string()};
    for (const auto& v : volumes) args.push_back(v.string());
    return Python(script, args) == 0;
}

}  // namespace ziptest
