// Reads a text file line by line through one buffer, without an allocation per line. Lines end at
// CR, LF or CR LF. The last line read can be held: the next ReadLine returns it again, once. A
// UTF-8 byte-order mark at the start of the file is skipped.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace ts {

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

class LineReader {
public:
    // Longer lines are cut here and the rest of the line is skipped, so that a file without line
    // ends cannot make the buffer grow with it.
    static constexpr size_t kMaxLine = 64 * 1024;

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() { Close(); }

    bool Open(const std::string& path);
    // Back to the start of the file; a held line is forgotten.
    bool Rewind();
    void Close();
    bool IsOpen() const { return f_ != nullptr; }
    int Descriptor() const { return f_ ? ::fileno(f_) : -1; }
    // A read error ended the file early, or the file ended before the size it had when opened.
    bool Failed() const { return error_; }
    // Why reading failed: the system's text for the error, or "changed while being read".
    std::string FailReason() const;
    // Bytes of the file taken by the lines read so far (a held line counts as read).
    uint64_t Consumed() const { return fileRead_ - (end_ - pos_); }
    // Size of the open file, 0 when it cannot be told.
    uint64_t FileSize() const;
    // Size of the file when it was opened, 0 for anything but a plain file.
    uint64_t OpenSize() const { return openSize_; }

    // True when no line is left to read from the file (a held line does not count).
    bool AtEnd();
    // The next line: the held one if any, else the next of the file. The view stays valid until
    // the next call of ReadLine, AtEnd or Rewind that is not for a held line.
    bool ReadLine(std::string_view& line);
    // The line ReadLine returned last is the file's last and no line end follows it: a write may
    // have been cut short there. A line cut at kMaxLine never is.
    bool LastLineUnended() const { return unended_; }
    // Holds the line ReadLine returned last.
    void Hold() { held_ = true; }
    bool HasHeld() const { return held_; }
    std::string_view Held() const { return held_ ? View() : std::string_view(); }

private:
    std::string_view View() const { return std::string_view(buf_.data() + lineOff_, lineLen_); }
    // Moves the bytes from keepFrom on to the front and reads more after them; false at the end.
    bool Fill(size_t keepFrom);
    // After an overlong line was cut: drops everything up to the next line end.
    void SkipRestOfLine();
    void Take(size_t len, size_t consumed);

    std::FILE* f_ = nullptr;
    std::vector<char> buf_;
    size_t pos_ = 0, end_ = 0;
    uint64_t fileRead_ = 0;  // bytes read from the file into the buffer so far
    bool eof_ = false;
    bool error_ = false;
    int errno_ = 0;          // of the failed read; 0: the file shrank
    uint64_t openSize_ = 0;  // of a plain file when opened
    size_t lineOff_ = 0, lineLen_ = 0;
    bool held_ = false;
    bool unended_ = false;
};

// Why a read failed: the system's text for error, or for 0 "changed while being read" (the file
// ended before the size it had when it was opened).
std::string ReadFailReason(int error);

// The lines of buf[0, size) that start in [from, to), cut as LineReader cuts them; buf[0] must be
// the start of the file or the byte before from. eof: the file ends at size. False when the bytes
// end before the last of those lines does (read more and call again).
bool FindLinesIn(const char* buf, size_t size, bool eof, size_t from, size_t to, std::vector<std::string_view>& lines);

// Reads a file in chunks on worker threads, each chunk holding the lines that start in its share
// of the file (the same lines LineReader gives), and hands the chunks out in file order. A bounded
// number of chunks is in flight, so memory does not grow with the file.
class ChunkedLineFeed {
public:
    struct Chunk {
        std::vector<char> bytes;
        std::vector<std::string_view> lines;
        size_t slot = 0;
        bool last = false;  // the file ends in this chunk
        // The last of the lines is the file's last and no line end follows it (as
        // LineReader::LastLineUnended).
        bool lastUnended = false;
        bool failed = false;  // reading failed: the lines are not given
        int error = 0;        // the failed read's errno; 0: the file ended early
    };
    // Runs once a chunk's lines are found: on worker thread 0 .. workers-1, or as `workers` on
    // the thread calling Next, which fills chunks itself rather than wait.
    using Work = std::function<void(Chunk&, unsigned worker)>;

    ChunkedLineFeed() = default;
    ChunkedLineFeed(const ChunkedLineFeed&) = delete;
    ChunkedLineFeed& operator=(const ChunkedLineFeed&) = delete;
    ~ChunkedLineFeed() { Stop(); }

    // Reads the file the reader has open, from its start. False when it cannot be.
    bool Start(const LineReader& file, unsigned workers, size_t chunkBytes, Work work);
    // Slots a feed with this many workers keeps: the chunks in flight at most.
    static size_t SlotsFor(unsigned workers) { return std::max<size_t>(workers + 2, 6); }
    // The next chunk, nullptr after the last one or a failed one; gives back the one handed out
    // before.
    const Chunk* Next();
    bool Failed() const { return failed_; }
    // As LineReader::FailReason.
    std::string FailReason() const;
    void Stop();

private:
    void WorkerLoop(unsigned id);
    // A chunk can be taken to fill: one is left and its slot is free.
    bool CanTake() const { return nextToFill_ <= endChunk_ && nextToFill_ < released_ + slots_.size() && !stop_; }
    // Takes the next chunk and fills it; called and returns with the lock held.
    void RunChunk(std::unique_lock<std::mutex>& lk, unsigned id);
    void Fill(Chunk& c, uint64_t index);
    bool ReadAt(std::vector<char>& buf, uint64_t offset, size_t want, size_t& got, int& error);

    int fd_ = -1;
    size_t chunkBytes_ = 0;
    unsigned workers_ = 0;
    Work work_;
    std::vector<Chunk> slots_;
    std::vector<uint8_t> ready_;
    std::mutex m_;
    std::condition_variable workCv_, readyCv_;
    uint64_t nextToFill_ = 0, nextToHand_ = 0, released_ = 0;
    uint64_t endChunk_ = UINT64_MAX;  // the chunk the file ends in, once known
    uint64_t openSize_ = 0;           // the file may not end before this
    int error_ = 0;
    unsigned idle_ = 0;  // workers waiting for a free slot
    bool stop_ = false, handed_ = false, failed_ = false, waiting_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace ts
