// One part of an output file on its way to the file. A writer learns the file's name and its head
// only after the block's last point, so each part waits: in memory up to a bound, and beyond it in
// an unnamed temporary file that vanishes by itself. A block's size then does not decide the
// memory it takes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace ts {

class OutFile;

class TextSpool {
public:
    // The temporary goes into folder (the output's, so that the copy stays on one file system),
    // else into the system's temporary folder.
    // Room for the bound and a record beyond it is taken at once, so that the buffer never grows;
    // its pages take memory only when written.
    explicit TextSpool(std::string folder, size_t bound = 256 * 1024) : folder_(std::move(folder)), bound_(bound) {
        buf_.reserve(bound_ + bound_ / 8);
    }
    TextSpool(const TextSpool&) = delete;
    TextSpool& operator=(const TextSpool&) = delete;
    ~TextSpool();

    // Append here; call Flow() now and then (after each record).
    std::string& Text() { return buf_; }
    // Moves the text held to the temporary once it has grown past the bound. When no temporary
    // can be had, the text stays in memory.
    void Flow() {
        if (buf_.size() >= bound_) Spill();
    }
    // Empty again, for the next block.
    void Clear();
    uint64_t Size() const { return spilled_ + buf_.size(); }
    // Appends the whole text to out; throws std::runtime_error when it does not reach the disk.
    void WriteTo(OutFile& out);
    // Copies n bytes of the text from offset on to dst; false when they cannot be read back.
    bool ReadAt(uint64_t offset, char* dst, size_t n) const;

private:
    void Spill();

    std::string folder_;
    size_t bound_;
    std::string buf_;
    int fd_ = -1;
    uint64_t spilled_ = 0;
    bool noTemp_ = false;
};

}  // namespace ts
