// Shared pieces of the fuzz harnesses: a scratch folder per process, the check that turns a broken
// rule into a crash the fuzzer keeps, and small readers of bytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace fuzz {

// A broken rule: say which and abort, so that libFuzzer saves the input and the replay fails.
[[noreturn]] inline void Fail(const std::string& what) {
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}
inline void Check(bool ok, const std::string& what) {
    if (!ok) Fail(what);
}

// One folder per process (libFuzzer workers are processes), emptied before every input and
// removed at exit.
inline const std::filesystem::path& ScratchDir() {
    static const std::filesystem::path dir = [] {
        std::string tmpl = (std::filesystem::temp_directory_path() / "ts_fuzz_XXXXXX").string();
        if (!mkdtemp(tmpl.data())) Fail("no scratch folder");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(ScratchDir(), ec);
        });
        return std::filesystem::path(tmpl);
    }();
    return dir;
}
inline const std::filesystem::path& FreshScratch() {
    const std::filesystem::path& d = ScratchDir();
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(d, ec)) std::filesystem::remove_all(e.path(), ec);
    return d;
}

inline void WriteBytes(const std::filesystem::path& p, const void* data, size_t size) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) Fail("cannot write " + p.string());
}
inline std::string ReadBytes(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Takes bytes off the front of the input for the harness's own choices.
class Input {
public:
    Input(const uint8_t* data, size_t size) : p_(data), n_(size) {}
    uint8_t Byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    uint32_t U32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t(Byte()) << (8 * i);
        return v;
    }
    std::string_view Rest() const { return {reinterpret_cast<const char*>(p_), n_}; }
    size_t Size() const { return n_; }

private:
    const uint8_t* p_;
    size_t n_;
};

// A tiny deterministic generator, so that an input always replays the same way.
struct Rng {
    uint64_t s;
    explicit Rng(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * double(Next() >> 11) / double(1ull << 53); }
};

inline std::string Lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

inline uint64_t Hash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

}  // namespace fuzz
