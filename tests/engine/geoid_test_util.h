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

#include "writer_test_util.h"

namespace ts::testing {

using TempDir = ScratchDir;

template <class T>
void PutLe(std::vector<unsigned char>& out, T v) {
    using U = std::conditional_t<sizeof(T) == 8, uint64_t, uint32_t>;
    const U u = std::bit_cast<U>(v);
    for (size_t i = 0; i < sizeof(U); ++i) out.push_back(static_cast<unsigned char>(u >> (8 * i)));
}

inline void WriteFile(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::ofstream(name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
inline void WriteText(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
}
inline std::vector<unsigned char> ReadBytes(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// Node value of (row, col), row 0 the northern-most.
using NodeFn = std::function<float(int row, int col)>;

// Rows north first; framed rows are Fortran records with a length word at both ends.
inline std::vector<unsigned char> GridBytes(int rows, int cols, const NodeFn& f, bool framed = false) {
    std::vector<unsigned char> out;
    for (int r = 0; r < rows; ++r) {
        if (framed) PutLe(out, uint32_t(cols) * 4);
        for (int c = 0; c < cols; ++c) PutLe(out, f(r, c));
        if (framed) PutLe(out, uint32_t(cols) * 4);
    }
    return out;
}

// Nodes north first followed by the 40-byte geometry trailer.
inline std::vector<unsigned char> CustomGridBytes(int rows, int cols, double latMin, double lonMin, double dLat,
                                                  double dLon, const NodeFn& f) {
    std::vector<unsigned char> out = GridBytes(rows, cols, f);
    PutLe(out, int32_t(rows));
    PutLe(out, int32_t(cols));
    for (double v : {latMin, lonMin, dLat, dLon}) PutLe(out, v);
    return out;
}

}  // namespace ts::testing
