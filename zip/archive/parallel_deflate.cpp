#include "archive/parallel_deflate.h"

#include <sched.h>

#include <algorithm>
#include <limits>

#include <zlib.h>

#include "archive/deflate_pipeline.h"

namespace zip {

namespace {

constexpr std::int64_t kWindowBytes = 32768;  // what deflate may look back
constexpr std::size_t kPiece = 32 * 1024;     // the source is read in pieces of this size

}  // namespace

int AvailableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        const int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

TParallelDeflate::TParallelDeflate(TStream& source, std::int64_t start, std::int64_t size, std::int64_t blockSize,
                                   int level, int threads)
    : source_(source),
      start_(start),
      blockSize_(std::max<std::int64_t>(1, blockSize)),
      size_(size),
      blocks_((size + blockSize_ - 1) / blockSize_),
      level_(level) {
    Start(static_cast<int>(std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(1, blocks_))));
}

TParallelDeflate::TParallelDeflate(TStream& source, std::int64_t blockSize, int level, int threads)
    : source_(source),
      start_(0),
      blockSize_(std::max<std::int64_t>(1, blockSize)),
      size_(std::numeric_limits<std::int64_t>::max()),
      blocks_(std::numeric_limits<std::int64_t>::max()),
      growing_(true),
      level_(level) {
    Start(std::max(1, threads));
}

void TParallelDeflate::Start(int threads) {
    // Blocks done ahead of the writer wait in memory: one more than the workers keeps them busy.
    window_ = threads + 1;
    workers_.reserve(static_cast<std::size_t>(threads));
    try {
        for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
    } catch (...) {
        if (workers_.empty()) throw;  // no thread at all: the caller's own road takes over
    }
}

void TParallelDeflate::Grown(std::int64_t available) {
    {
        std::lock_guard<std::mutex> lock(m_);
        available_ = std::max(available_, available);
    }
    workCv_.notify_all();
}

void TParallelDeflate::End(std::int64_t size) {
    {
        std::lock_guard<std::mutex> lock(m_);
        size_ = size;
        blocks_ = (size + blockSize_ - 1) / blockSize_;
        available_ = size;
        growing_ = false;
    }
    workCv_.notify_all();
}

bool TParallelDeflate::NextReady() {
    std::lock_guard<std::mutex> lock(m_);
    return consumed_ >= blocks_ || done_.count(consumed_) > 0;
}

// With m_ held: whether a worker may take block next_ now. A block of a growing source waits
// until data lies beyond it, so that it is known not to be the last.
bool TParallelDeflate::Takeable() const {
    return next_ < consumed_ + window_ && (!growing_ || (next_ + 1) * blockSize_ < available_);
}

TParallelDeflate::~TParallelDeflate() {
    {
        std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    workCv_.notify_all();
    for (std::thread& t : workers_) t.join();
}

TDeflatedBlock TParallelDeflate::Next() {
    std::unique_lock<std::mutex> lock(m_);
    if (consumed_ >= blocks_) return {};
    doneCv_.wait(lock, [&] { return done_.count(consumed_) > 0; });
    auto it = done_.find(consumed_);
    Result r = std::move(it->second);
    done_.erase(it);
    ++consumed_;
    lock.unlock();
    workCv_.notify_all();
    if (r.failed) throw ECompressionError();
    return std::move(r.block);
}

void TParallelDeflate::Work() {
    z_stream zs{};
    const bool live = deflateInit2(&zs, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
    std::vector<std::uint8_t> piece(kPiece);
    for (;;) {
        std::int64_t k, length;
        bool last;
        {
            std::unique_lock<std::mutex> lock(m_);
            workCv_.wait(lock, [&] { return stop_ || next_ >= blocks_ || Takeable(); });
            if (stop_ || next_ >= blocks_) break;
            k = next_++;
            length = std::min(blockSize_, size_ - k * blockSize_);
            last = k == blocks_ - 1;
        }
        Result r;
        if (!live) {
            r.failed = true;
        } else {
            try {
                r = Deflate(&zs, k, length, last, piece);
            } catch (...) {
                r = Result();
                r.failed = true;
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_);
            done_.emplace(k, std::move(r));
        }
        doneCv_.notify_all();
    }
    if (live) deflateEnd(&zs);
}

std::int64_t TParallelDeflate::ReadAt(std::int64_t offset, void* buffer, std::int64_t count) {
    std::lock_guard<std::mutex> lock(sourceMutex_);
    if (source_.Seek(offset, TSeekOrigin::soBeginning) != offset) return 0;
    std::int64_t got = 0;
    while (got < count) {
        const std::int64_t n = source_.Read(static_cast<std::uint8_t*>(buffer) + got, count - got);
        if (n <= 0) break;
        got += n;
    }
    return got;
}

TParallelDeflate::Result TParallelDeflate::Deflate(void* stream, std::int64_t index, std::int64_t length, bool last,
                                                   std::vector<std::uint8_t>& piece) {
    z_stream& zs = *static_cast<z_stream*>(stream);
    Result r;
    const std::int64_t offset = index * blockSize_;
    if (deflateReset(&zs) != Z_OK) {
        r.failed = true;
        return r;
    }
    if (offset > 0) {
        // The block continues the stream: what it may refer back to comes first.
        const std::int64_t dict = std::min(kWindowBytes, offset);
        if (ReadAt(start_ + offset - dict, piece.data(), dict) != dict)
            return r;  // the source changed under us: a short read
        if (deflateSetDictionary(&zs, piece.data(), static_cast<uInt>(dict)) != Z_OK) {
            r.failed = true;
            return r;
        }
    }
    std::vector<std::uint8_t>& out = r.block.data;
    out.resize(static_cast<std::size_t>(length / 16 + 4096));
    std::size_t used = 0;
    std::uint32_t crc = 0xFFFFFFFF;
    std::int64_t read = 0;
    while (read < length) {
        const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(piece.size()), length - read);
        const std::int64_t n = ReadAt(start_ + offset + read, piece.data(), want);
        if (n > 0) {
            crc = UpdateCrc32(crc, piece.data(), n);
            read += n;
        }
        if (n < want) {
            r.block.read = read;
            r.block.crc = ~crc;
            out.clear();
            return r;
        }
        const int flush = read < length ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
        zs.next_in = piece.data();
        zs.avail_in = static_cast<uInt>(n);
        for (;;) {
            if (out.size() - used < 4096) out.resize(std::max(out.size() + out.size() / 2, used + 65536));
            zs.next_out = out.data() + used;
            zs.avail_out = static_cast<uInt>(out.size() - used);
            const int rc = deflate(&zs, flush);
            used = out.size() - zs.avail_out;
            if (rc < 0) {
                r.failed = true;
                return r;
            }
            if (flush == Z_NO_FLUSH ? zs.avail_in == 0 : flush == Z_FINISH ? rc == Z_STREAM_END : zs.avail_out != 0)
                break;
        }
    }
    out.resize(used);
    r.block.read = read;
    r.block.crc = ~crc;
    return r;
}

}  // namespace zip
