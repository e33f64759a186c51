// Builds small geoid grid files in the layouts the program reads.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace ts::testing {

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "geoidtest.XXXXXX").string();
        if (!mkdtemp(tmpl.data())) std::abort();
        path_ = tmpl;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string Folder() const { return path_.string() + "/"; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void PutLe32(std::vector<unsigned char>& out, uint32_t u) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(u >> (8 * i)));
}
inline void PutFloat(std::vector<unsigned char>& out, float v) { PutLe32(out, std::bit_cast<uint32_t>(v)); }
inline void PutDouble(std::vector<unsigned char>& out, double v) {
    const uint64_t u = std::bit_cast<uint64_t>(v);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<unsigned char>(u >> (8 * i)));
}

inline void WriteFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::ofstream f(name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<unsigned char> ReadFile(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Node value of (row, col), row 0 the northern-most.
using NodeFn = std::function<float(int row, int col)>;

// Rows north first; with framed set every row is a Fortran record: a length word before and
// after its nodes (the published global grids).
inline std::vector<unsigned char> GridBytes(int rows, int cols, const NodeFn& f, bool framed = false) {
    std::vector<unsigned char> out;
    for (int r = 0; r < rows; ++r) {
        if (framed) PutLe32(out, uint32_t(cols) * 4);
        for (int c = 0; c < cols; ++c) PutFloat(out, f(r, c));
        if (framed) PutLe32(out, uint32_t(cols) * 4);
    }
    return out;
}

// Nodes north first followed by the 40-byte geometry trailer.
inline std::vector<unsigned char> CustomGridBytes(int rows, int cols, double latMin, double lonMin, double dLat,
                                                  double dLon, const NodeFn& f) {
    std::vector<unsigned char> out = GridBytes(rows, cols, f);
    PutLe32(out, uint32_t(rows));
    PutLe32(out, uint32_t(cols));
    PutDouble(out, latMin);
    PutDouble(out, lonMin);
    PutDouble(out, dLat);
    PutDouble(out, dLon);
    return out;
}

}  // namespace ts::testing
