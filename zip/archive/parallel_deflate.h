// Deflate of one item's data on several threads. The data is cut into the pipeline's blocks; each
// block is deflated on its own, primed with the 32 KiB before it as dictionary and ended with a
// sync flush (the last one with a finish), so that the blocks joined in order make one raw deflate
// stream, as the single-threaded road makes it. The caller takes the blocks in order and writes
// them; the workers run at most a few blocks ahead, so memory stays bounded whatever the size.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "text/streams.h"

namespace zip {

// The processors this process may run on (at least 1).
int AvailableProcessors();

struct TDeflatedBlock {
    std::int64_t read = 0;           // bytes of the source read for the block (short at a short read)
    std::uint32_t crc = 0;           // standard CRC-32 of those bytes
    std::vector<std::uint8_t> data;  // raw deflate; empty after a short read
};

// Blocks of an item's data deflated ahead of the commit, cut and made as TParallelDeflate makes
// them (by a writer that deflates its file while it writes it): the commit takes them in place
// of deflating the file again.
class TDeflatedSource {
public:
    virtual ~TDeflatedSource() = default;
    // True when the blocks are those of the file fileName (a path; its bare name is compared) of
    // size bytes, cut at blockSize and deflated at level.
    virtual bool Fits(const std::u16string& fileName, std::int64_t size, std::int64_t blockSize, int level) const = 0;
    // The next block in order, as TParallelDeflate::Next gives it.
    virtual TDeflatedBlock Next() = 0;
};

class TParallelDeflate {
public:
    // source holds size bytes from start on; threads is at least 1. Workers start at once.
    TParallelDeflate(TStream& source, std::int64_t start, std::int64_t size, std::int64_t blockSize, int level,
                     int threads);
    // A source that is still being written, from position 0 on: Grown says how far it is
    // written, End its final size. A block is deflated once the data beyond it is there.
    TParallelDeflate(TStream& source, std::int64_t blockSize, int level, int threads);
    void Grown(std::int64_t available);
    void End(std::int64_t size);
    // True when the next block in order is done (or none is left), so that Next does not wait.
    bool NextReady();
    TParallelDeflate(const TParallelDeflate&) = delete;
    TParallelDeflate& operator=(const TParallelDeflate&) = delete;
    ~TParallelDeflate();  // stops the workers and waits for them

    // The next block in order. Raises ECompressionError when zlib failed on it.
    TDeflatedBlock Next();

private:
    struct Result {
        TDeflatedBlock block;
        bool failed = false;
    };
    void Work();
    void Start(int threads);
    bool Takeable() const;
    Result Deflate(void* stream, std::int64_t index, std::int64_t length, bool last, std::vector<std::uint8_t>& piece);
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);

    TStream& source_;
    const std::int64_t start_, blockSize_;
    std::int64_t size_, blocks_;  // with m_ held while the source grows
    std::int64_t available_ = 0;
    bool growing_ = false;
    const int level_;
    std::int64_t window_ = 1;

    std::mutex sourceMutex_;
    std::mutex m_;
    std::condition_variable workCv_, doneCv_;
    std::int64_t next_ = 0;      // next block a worker takes
    std::int64_t consumed_ = 0;  // blocks the caller took
    bool stop_ = false;
    std::map<std::int64_t, Result> done_;
    std::vector<std::thread> workers_;
};

}  // namespace zip
