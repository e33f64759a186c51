#include "output/text_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "output/output_file.h"

namespace ts {

namespace {

// An unnamed file in folder, or in the system's temporary folder; -1 when neither will do.
int OpenUnnamedTemp(const std::string& folder) {
    const std::string dir = folder.empty() ? std::string(".") : folder;
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/trailsmith-XXXXXX";
    fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(pattern.c_str());
    return fd;
}

bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

TextSpool::~TextSpool() {
    if (fd_ >= 0) ::close(fd_);
}

void TextSpool::Spill() {
    if (noTemp_ || buf_.empty()) return;
    if (fd_ < 0) fd_ = OpenUnnamedTemp(folder_);
    // A temporary that cannot be had or filled leaves the text in memory: the output file itself
    // then tells whether the disk takes it.
    if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(spilled_), SEEK_SET) < 0 ||
        !WriteAll(fd_, buf_.data(), buf_.size())) {
        noTemp_ = true;
        return;
    }
    spilled_ += buf_.size();
    buf_.clear();
}

void TextSpool::Clear() {
    buf_.clear();
    spilled_ = 0;
    noTemp_ = false;
    if (fd_ >= 0 && ::ftruncate(fd_, 0) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool TextSpool::ReadAt(uint64_t offset, char* dst, size_t n) const {
    if (offset + n > Size()) return false;
    while (n > 0 && offset < spilled_) {
        const ssize_t got = ::pread(fd_, dst, static_cast<size_t>(std::min<uint64_t>(n, spilled_ - offset)),
                                    static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        dst += got;
        offset += static_cast<uint64_t>(got);
        n -= static_cast<size_t>(got);
    }
    if (n > 0) buf_.copy(dst, n, static_cast<size_t>(offset - spilled_));
    return true;
}

void TextSpool::WriteTo(OutFile& out) {
    if (spilled_ > 0) out.CopyFrom(fd_, spilled_);
    out.Write(buf_);
}

}  // namespace ts
