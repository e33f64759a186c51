#include "readers/line_reader.h"

#include <algorithm>
#include <cstring>

#include <cerrno>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/file_open.h"

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
    // Only a regular file: a pipe would wait for a writer, a device such as /dev/zero never ends.
    f_ = OpenRegularStream(path);
    if (!f_) return false;
    // A log that ends before this while it is read was cut meanwhile.
    struct stat st;
    openSize_ = ::fstat(::fileno(f_), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0
                    ? static_cast<uint64_t>(st.st_size)
                    : 0;
    buf_.resize(kBufferSize);
    return Rewind();
}

std::string ReadFailReason(int error) {
    return error != 0 ? std::string(std::strerror(error)) : std::string("changed while being read");
}

std::string LineReader::FailReason() const { return ReadFailReason(errno_); }

bool LineReader::Rewind() {
    pos_ = end_ = 0;
    fileRead_ = 0;
    lineOff_ = lineLen_ = 0;
    held_ = false;
    unended_ = false;
    eof_ = false;
    error_ = false;
    errno_ = 0;
    if (!f_) return false;
    std::clearerr(f_);
    if (std::fseek(f_, 0, SEEK_SET) != 0) return false;
    // A UTF-8 byte-order mark is no part of the first line.
    if (Fill(0) && end_ >= kUtf8Bom.size() && std::string_view(buf_.data(), kUtf8Bom.size()) == kUtf8Bom)
        pos_ = kUtf8Bom.size();
    return true;
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
        if (std::ferror(f_)) {
            error_ = true;
            errno_ = errno != 0 ? errno : EIO;
        } else if (fileRead_ < openSize_) {
            error_ = true;  // cut short while read: what was read is not the log
        }
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
    unended_ = false;
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
            unended_ = true;
            line = View();
            return true;
        }
    }
}

bool FindLinesIn(const char* buf, size_t size, bool eof, size_t from, size_t to, std::vector<std::string_view>& lines) {
    lines.clear();
    size_t p = from;
    for (;;) {
        // A line starts at the file's start and after a line end; CR LF is one end.
        while (p < to && p < size && p != 0 && buf[p - 1] != '\n' && !(buf[p - 1] == '\r' && buf[p] != '\n')) ++p;
        if (p >= to) return true;
        if (p >= size) return eof;
        const size_t limit = std::min(size, p + LineReader::kMaxLine);
        const size_t e = FindLineEnd(buf, p, limit);
        if (e == limit && limit < p + LineReader::kMaxLine && !eof) return false;
        lines.emplace_back(buf + p, e - p);
        p = std::max(e, p + 1);
    }
}

bool ChunkedLineFeed::Start(const LineReader& file, unsigned workers, size_t chunkBytes, Work work) {
    Stop();
    // A descriptor of its own on the same open file: reading at offsets leaves the reader's
    // position alone, and a file renamed or replaced meanwhile is not read instead.
    fd_ = file.IsOpen() ? ::fcntl(file.Descriptor(), F_DUPFD_CLOEXEC, 0) : -1;
    if (fd_ < 0) return false;
    openSize_ = file.OpenSize();
    error_ = 0;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    workers = std::max(1u, workers);
    chunkBytes_ = std::max<size_t>(1, chunkBytes);
    work_ = std::move(work);
    slots_.assign(SlotsFor(workers), Chunk());
    for (size_t i = 0; i < slots_.size(); ++i) slots_[i].slot = i;
    ready_.assign(slots_.size(), 0);
    nextToFill_ = nextToHand_ = released_ = 0;
    idle_ = 0;
    endChunk_ = UINT64_MAX;
    stop_ = handed_ = failed_ = waiting_ = false;
    workers_ = workers;
    for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this, i] { WorkerLoop(i); });
    return true;
}

void ChunkedLineFeed::Stop() {
    {
        std::lock_guard<std::mutex> lk(m_);
        stop_ = true;
    }
    workCv_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

const ChunkedLineFeed::Chunk* ChunkedLineFeed::Next() {
    std::unique_lock<std::mutex> lk(m_);
    if (handed_) {
        const size_t s = (nextToHand_ - 1) % slots_.size();
        // Read before the slot goes back to the workers.
        const bool end = slots_[s].last || slots_[s].failed;
        handed_ = false;
        ready_[s] = 0;
        released_ = nextToHand_;
        // Idle workers are woken once half the slots are free, not for every slot: a wake-up
        // costs this thread more than handing out a chunk.
        if (idle_ > 0 && released_ + slots_.size() - nextToFill_ >= (slots_.size() + 1) / 2) workCv_.notify_all();
        if (end) return nullptr;
    }
    if (nextToHand_ > endChunk_ || failed_) return nullptr;
    const size_t s = nextToHand_ % slots_.size();
    while (!ready_[s]) {
        // Rather than wait, fill a chunk no worker has taken yet (on few processors the workers
        // alone cannot keep up).
        if (CanTake()) {
            RunChunk(lk, workers_);
            continue;
        }
        waiting_ = true;
        readyCv_.wait(lk, [&] { return ready_[s] != 0; });
        waiting_ = false;
    }
    ++nextToHand_;
    handed_ = true;
    if (slots_[s].failed) {
        failed_ = true;
        error_ = slots_[s].error;
        return nullptr;
    }
    return &slots_[s];
}

void ChunkedLineFeed::RunChunk(std::unique_lock<std::mutex>& lk, unsigned id) {
    const uint64_t index = nextToFill_++;
    Chunk& c = slots_[index % slots_.size()];
    lk.unlock();
    try {
        Fill(c, index);
        if (!c.failed) work_(c, id);
    } catch (const std::exception&) {
        c.failed = true;
    }
    lk.lock();
    if (c.last || c.failed) {
        endChunk_ = std::min(endChunk_, index);
        workCv_.notify_all();
    }
    ready_[c.slot] = 1;
    if (waiting_ && c.slot == nextToHand_ % slots_.size()) readyCv_.notify_one();
}

void ChunkedLineFeed::WorkerLoop(unsigned id) {
    ::pthread_setname_np(::pthread_self(), "line-feed");
    std::unique_lock<std::mutex> lk(m_);
    for (;;) {
        ++idle_;
        workCv_.wait(lk, [&] { return stop_ || nextToFill_ > endChunk_ || CanTake(); });
        --idle_;
        if (stop_ || nextToFill_ > endChunk_) return;
        RunChunk(lk, id);
    }
}

std::string ChunkedLineFeed::FailReason() const { return ReadFailReason(error_); }

bool ChunkedLineFeed::ReadAt(std::vector<char>& buf, uint64_t offset, size_t want, size_t& got, int& error) {
    if (buf.size() < want) buf.resize(want);
    while (got < want) {
        const ssize_t r = ::pread(fd_, buf.data() + got, want - got, static_cast<off_t>(offset + got));
        if (r < 0) {
            if (errno == EINTR) continue;
            error = errno != 0 ? errno : EIO;
            return false;
        }
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return true;
}

void ChunkedLineFeed::Fill(Chunk& c, uint64_t index) {
    c.lines.clear();
    c.last = c.failed = c.lastUnended = false;
    c.error = 0;
    const uint64_t a = index * chunkBytes_;
    // One byte before the share tells whether a line starts at its first byte.
    const uint64_t r0 = a == 0 ? 0 : a - 1;
    const size_t from = static_cast<size_t>(a - r0), to = from + chunkBytes_;
    // Enough for the usual last line; the longest one needs a second read.
    size_t want = to + 4096, got = 0;
    for (int round = 0;; ++round) {
        if (!ReadAt(c.bytes, r0, want, got, c.error)) {
            c.failed = true;
            return;
        }
        const bool eof = got < want;
        if (eof && r0 + got < openSize_) {
            c.failed = true;  // the file was cut while read
            return;
        }
        if (FindLinesIn(c.bytes.data(), got, eof, from, to, c.lines)) {
            c.last = eof && got <= to;
            // The file's last line may start in an earlier chunk than the one the file ends in.
            c.lastUnended = eof && !c.lines.empty() && c.lines.back().size() < LineReader::kMaxLine &&
                            c.lines.back().data() + c.lines.back().size() == c.bytes.data() + got;
            return;
        }
        if (round > 0) {
            c.failed = true;  // cannot happen: the second read holds the longest line
            return;
        }
        want = to + LineReader::kMaxLine + 2;
    }
}

}  // namespace ts
