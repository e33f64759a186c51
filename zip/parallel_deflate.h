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
#include <thread>
#include <vector>

#include "streams.h"

namespace zip {

// The processors this process may run on (at least 1).
int AvailableProcessors();

struct TDeflatedBlock {
    std::int64_t read = 0;           // bytes of the source read for the block (short at a short read)
    std::uint32_t crc = 0;           // standard CRC-32 of those bytes
    std::vector<std::uint8_t> data;  // raw deflate; empty after a short read
};

class TParallelDeflate {
public:
    // source holds size bytes from start on; threads is at least 1. Workers start at once.
    TParallelDeflate(TStream& source, std::int64_t start, std::int64_t size, std::int64_t blockSize, int level,
                     int threads);
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
    Result Deflate(void* stream, std::int64_t index, std::vector<std::uint8_t>& piece);
    std::int64_t ReadAt(std::int64_t offset, void* buffer, std::int64_t count);

    TStream& source_;
    const std::int64_t start_, size_, blockSize_, blocks_;
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
