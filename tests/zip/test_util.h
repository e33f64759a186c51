// Shared helpers of the archive component's tests: scratch folders, file bytes, generated data,
// little-endian fields, hex, error codes and outside tools.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <stdlib.h>

#include "archive/archiver.h"
#include "text/errors.h"
#include "text/wide_files.h"
#include "text/wide_text.h"

namespace ziptest {

class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zipkitXXXXXX").string();
        if (mkdtemp(tmpl.data())) path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string str() const { return path_.string() + "/"; }
    std::u16string wide() const {
        const std::string s = str();
        return std::u16string(s.begin(), s.end());  // temp paths are ASCII
    }
    void write(const std::string& rel, const std::string& data) const {
        std::filesystem::create_directories((path_ / rel).parent_path());
        std::ofstream(path_ / rel, std::ios::binary) << data;
    }

private:
    std::filesystem::path path_;
};

inline std::string Bytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void Put(const std::filesystem::path& p, const std::string& data) { std::ofstream(p, std::ios::binary) << data; }

// An empty archive: the end record alone.
inline std::string EmptyZip() { return std::string("PK\x05\x06", 4) + std::string(18, '\0'); }

inline std::string Random(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

inline std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed) {
    const std::string s = Random(n, seed);
    return {s.begin(), s.end()};
}

// Track points as a KML file holds them: compressible text.
inline std::string Kml(std::size_t lines) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml>\n";
    for (std::size_t i = 0; i < lines; ++i)
        s += "      <coordinates>" + std::to_string(139.0 + static_cast<double>(i) * 1.3e-5) + "," +
             std::to_string(35.0 + static_cast<double>(i % 977) * 1.1e-5) + "," + std::to_string(i % 300) +
             ".5</coordinates>\n";
    return s + "</kml>\n";
}

inline std::uint64_t LE(const std::string& s, std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s.at(at + static_cast<std::size_t>(i)));
    return v;
}

inline void Le(std::string& s, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i));
}

inline void SetLe(std::string& s, std::size_t at, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
}

inline std::uint32_t Crc(const std::string& s) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : s) {
        c ^= b;
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

inline std::vector<std::uint8_t> Unhex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline std::string Hex(const std::uint8_t* p, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}
inline std::string Hex(const std::vector<std::uint8_t>& v) { return Hex(v.data(), v.size()); }

// The native error code of the archive error f throws, -1 if none.
inline int NativeOf(const std::function<void()>& f, std::string* message = nullptr) {
    try {
        f();
    } catch (const zip::EZipException& e) {
        if (message) *message = e.Message;
        return e.NativeError;
    }
    return -1;
}

inline bool HaveTool(const char* name) {
    return std::system(("command -v " + std::string(name) + " >/dev/null 2>&1").c_str()) == 0;
}

// Runs a shell command; returns its exit status, and its output in out.
inline int RunCommand(const std::string& command, std::string* out) {
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return -1;
    std::string text;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    const int rc = pclose(p);
    if (out) *out = text;
    return rc;
}

// Runs a shell command and returns its standard output.
inline std::string RunTool(const std::string& command) {
    std::string out;
    RunCommand(command, &out);
    return out;
}

// Makes the archiver write a split set of volumes of the given size.
inline void Split(zip::TZipArchiver& a, int volumeSize) {
    a.SetSpanningMode(zip::smSplitting);
    a.SpanningOptions.VolumeSize = zip::vsCustom;
    a.SpanningOptions.SetCustomVolumeSize(volumeSize);
}

// Calls f with the item's name, the operation and the cancel flag as each item of an add starts.
inline void OnItemStart(zip::TZipArchiver& a,
                        const std::function<void(const std::u16string&, zip::TZipProcessOperation, bool&)>& f) {
    a.OnFileProgress = [f](zip::TComponent*, const std::u16string& name, double, zip::TZipProcessOperation op,
                           zip::TZipProgressPhase ph, bool& cancel) {
        if (ph == zip::ppStart) f(name, op, cancel);
    };
}

// The volumes of a split set in disk order, the last one under the set's name; the numbered ones
// renamed to lower case, as 7z wants them.
inline std::vector<std::filesystem::path> SetVolumes(const std::filesystem::path& last) {
    std::vector<std::filesystem::path> volumes;
    for (int n = 1; n < 100; ++n) {
        char upper[8], lower[8];
        std::snprintf(upper, sizeof upper, ".Z%02d", n);
        std::snprintf(lower, sizeof lower, ".z%02d", n);
        std::filesystem::path v = last, l = last;
        v.replace_extension(upper);
        l.replace_extension(lower);
        if (std::filesystem::exists(v)) std::filesystem::rename(v, l);
        else if (!std::filesystem::exists(l)) break;
        volumes.push_back(l);
    }
    volumes.push_back(last);
    return volumes;
}

// Packs mask (all files by default) from the folder src into the archive zip; setup adjusts the
// archiver before the archive is created.
inline void MakeZip(const std::filesystem::path& zip, const std::filesystem::path& src,
                    const std::function<void(zip::TZipArchiver&)>& setup = {}, const std::u16string& mask = u"*") {
    zip::TZipArchiver a;
    if (setup) setup(a);
    a.FileName = zip::UTF8DecodeWide(zip.string());
    a.OpenArchive(zip::fmCreate);
    a.BaseDir = zip::UTF8DecodeWide(src.string());
    a.AddFiles(mask, 0x28BF, u"");
    a.CloseArchive();
}

// Adds src/new.kml to zip, opened read-write (recovery as the archiver's default has it); the
// native error, -1 when it succeeded.
inline int AddNewKml(const TempDir& dir, const std::filesystem::path& zip) {
    dir.write("src/new.kml", Kml(40));
    zip::TZipArchiver a;
    a.FileName = zip::UTF8DecodeWide(zip.string());
    return NativeOf([&] {
        a.OpenArchive(zip::fmOpenReadWrite | zip::fmShareDenyWrite);
        a.BaseDir = dir.wide() + u"src";
        a.AddFiles(u"new.kml", 0x28BF, u"");
        a.CloseArchive();
    });
}

}  // namespace ziptest
