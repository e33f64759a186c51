#include "line_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <sys/stat.h>

namespace ts {

namespace {
constexpr size_t kBufferSize = 4 * LineReader::kMaxLine;
inline bool IsLineEnd(char c) { return c == '\n' || c == '\r'; }

// Index of the first CR or LF in p[from, limit), or limit.
size_t FindLineEnd(const char* p, size_t from, size_t limit) {
    if (from >= limit) return limit;
    const void* lf = std::memchr(p + from, '\n', limit - from);
    const size_t upto = lf ? static_cast<size_t>(static_cast<const char*>(lf) - p) : limit;
    const void* cr = upto > from ? std::memchr(p + from, '\r', upto - from) : nullptr;
    return cr ? static_cast<size_t>(static_cast<const char*>(cr) - p) : upto;
}
}  // namespace

bool LineReader::Open(const std::string& path) {
    Close();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;  // opens, but every read fails
    f_ = std::fopen(path.c_str(), "rb");
    if (!f_) return false;
    buf_.resize(kBufferSize);
    return Rewind();
}

bool LineReader::Rewind() {
    pos_ = end_ = 0;
    fileRead_ = 0;
    lineOff_ = lineLen_ = 0;
    held_ = false;
    eof_ = false;
    error_ = false;
    if (!f_) return false;
    std::clearerr(f_);
    return std::fseek(f_, 0, SEEK_SET) == 0;
}

uint64_t LineReader::FileSize() const {
    struct stat st;
    if (!f_ || ::fstat(::fileno(f_), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

void LineReader::Close() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    held_ = false;
    pos_ = end_ = 0;
    eof_ = true;
}

bool LineReader::Fill(size_t keepFrom) {
    if (eof_ || !f_) return false;
    if (keepFrom > 0) {
        std::memmove(buf_.data(), buf_.data() + keepFrom, end_ - keepFrom);
        end_ -= keepFrom;
        pos_ -= keepFrom;
        lineOff_ = lineOff_ >= keepFrom ? lineOff_ - keepFrom : 0;
    }
    // The kept bytes never exceed a line and a line end, far below the buffer size.
    if (end_ == buf_.size()) return false;
    const size_t got = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
    if (got == 0) {
        error_ = std::ferror(f_) != 0;
        eof_ = true;
        return false;
    }
    end_ += got;
    fileRead_ += got;
    return true;
}

bool LineReader::AtEnd() {
    if (pos_ < end_) return false;
    return !Fill(held_ ? std::min(lineOff_, pos_) : pos_);
}

void LineReader::Take(size_t len, size_t consumed) {
    lineOff_ = pos_;
    lineLen_ = len;
    pos_ += consumed;
}

void LineReader::SkipRestOfLine() {
    const size_t lineEnd = lineOff_ + lineLen_;
    bool afterCr = false;
    for (;;) {
        if (afterCr) {
            if (pos_ < end_ && buf_[pos_] == '\n') ++pos_;
            return;
        }
        size_t i = pos_;
        while (i < end_ && !IsLineEnd(buf_[i])) ++i;
        if (i < end_) {
            pos_ = i + 1;
            if (buf_[i] == '\n') return;
            afterCr = true;
            if (pos_ < end_) continue;
        }
        // Drop what was scanned, keep the line, read on.
        end_ = pos_ = lineEnd;
        if (!Fill(lineOff_)) return;
    }
}

bool LineReader::ReadLine(std::string_view& line) {
    if (held_) {
        held_ = false;
        line = View();
        return true;
    }
    size_t scanned = 0;  // bytes after pos_ known to hold no line end
    for (;;) {
        const size_t avail = end_ - pos_;
        const size_t limit = std::min(avail, kMaxLine);
        const size_t e = FindLineEnd(buf_.data() + pos_, scanned, limit);
        if (e < limit) {
            // A CR at the end of the buffer may be the first half of CR LF: look further first.
            if (buf_[pos_ + e] == '\r' && e + 1 == avail && !eof_ && Fill(pos_)) {
                scanned = e;
                continue;
            }
            const bool crlf = buf_[pos_ + e] == '\r' && e + 1 < avail && buf_[pos_ + e + 1] == '\n';
            Take(e, e + (crlf ? 2 : 1));
            line = View();
            return true;
        }
        if (avail >= kMaxLine) {
            Take(kMaxLine, kMaxLine);
            SkipRestOfLine();
            line = View();
            return true;
        }
        scanned = avail;
        if (!Fill(pos_)) {
            if (pos_ >= end_) return false;
            Take(avail, avail);
            line = View();
            return true;
        }
    }
}

}  // namespace ts
