#include "core/ordered_chunks.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "archive/parallel_deflate.h"

namespace ts {

ChunkSettings& WriterChunking() {
    static ChunkSettings settings;
    return settings;
}

int64_t ChunkRecords(int64_t bytesPerRecord) {
    return std::max<int64_t>(1, WriterChunking().bytes / std::max<int64_t>(1, bytesPerRecord));
}

namespace {

class ChunkWorkers {
public:
    ChunkWorkers(int64_t chunks, int threads, const std::function<void(int64_t, std::string&)>& format)
        : chunks_(chunks), format_(format), slots_(static_cast<size_t>(threads) + 2) {
        try {
            for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            if (workers_.empty()) throw;  // the caller makes the chunks itself
        }
    }
    ChunkWorkers(const ChunkWorkers&) = delete;
    ChunkWorkers& operator=(const ChunkWorkers&) = delete;
    ~ChunkWorkers() {
        {
            std::lock_guard<std::mutex> lock(m_);
            stop_ = true;
        }
        workCv_.notify_all();
        for (std::thread& t : workers_) t.join();
    }

    void Run(const std::function<void(std::string&)>& take) {
        for (int64_t k = 0; k < chunks_; ++k) {
            Slot& s = slots_[static_cast<size_t>(k) % slots_.size()];
            {
                std::unique_lock<std::mutex> lock(m_);
                callerWaits_ = true;
                doneCv_.wait(lock, [&] { return s.ready; });
                callerWaits_ = false;
            }
            if (s.error) std::rethrow_exception(s.error);
            take(s.text);
            s.text.clear();
            bool wake;
            {
                std::lock_guard<std::mutex> lock(m_);
                s.ready = false;
                ++consumed_;
                wake = idleWorkers_ > 0;
            }
            // One slot came free: one worker can go on. Waking them all costs more than it brings.
            if (wake) workCv_.notify_one();
        }
    }

private:
    struct Slot {
        std::string text;
        std::exception_ptr error;
        bool ready = false;
    };

    void Work() {
        for (;;) {
            int64_t k;
            {
                std::unique_lock<std::mutex> lock(m_);
                ++idleWorkers_;
                workCv_.wait(lock, [&] {
                    return stop_ || next_ >= chunks_ || next_ < consumed_ + static_cast<int64_t>(slots_.size());
                });
                --idleWorkers_;
                if (stop_ || next_ >= chunks_) return;
                k = next_++;
            }
            // The slot is this worker's alone until it is marked ready.
            Slot& s = slots_[static_cast<size_t>(k) % slots_.size()];
            // Room for a chunk and some more at once: grown by doubling, the slots would take
            // twice what they hold.
            if (s.text.capacity() < reserve_) s.text.reserve(reserve_);
            try {
                format_(k, s.text);
            } catch (...) {
                s.error = std::current_exception();
            }
            bool wake;
            {
                std::lock_guard<std::mutex> lock(m_);
                s.ready = true;
                wake = callerWaits_;
            }
            if (wake) doneCv_.notify_one();
        }
    }

    const int64_t chunks_;
    const size_t reserve_ = static_cast<size_t>(WriterChunking().bytes + WriterChunking().bytes / 4);
    const std::function<void(int64_t, std::string&)>& format_;
    std::vector<Slot> slots_;
    std::mutex m_;
    std::condition_variable workCv_, doneCv_;
    int64_t next_ = 0, consumed_ = 0;
    int idleWorkers_ = 0;
    bool callerWaits_ = false, stop_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

void MakeChunksInOrder(int64_t chunks, const std::function<void(int64_t, std::string&)>& format,
                       const std::function<void(std::string&)>& take) {
    const ChunkSettings& c = WriterChunking();
    const int threads =
        static_cast<int>(std::min<int64_t>(c.threads > 0 ? c.threads : zip::AvailableProcessors(), chunks));
    if (threads > 1 && chunks >= c.minChunksForThreads) {
        std::optional<ChunkWorkers> workers;
        try {
            workers.emplace(chunks, threads, format);
        } catch (const std::system_error&) {
            // No thread to be had: the calling thread makes the chunks below.
        }
        if (workers) {
            workers->Run(take);
            return;
        }
    }
    std::string text;
    for (int64_t k = 0; k < chunks; ++k) {
        text.clear();
        format(k, text);
        take(text);
    }
}

}  // namespace ts
