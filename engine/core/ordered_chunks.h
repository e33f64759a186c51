// The text of a long run of records made in chunks, on worker threads where the machine has more
// than one processor and the run is long, and handed to the caller strictly in order. The workers
// run at most a few chunks ahead, so the text in flight stays small whatever the run's length;
// whatever talks to the host (abort polling, status, the file) stays with the calling thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ts {

// How the writers cut their records: the text a chunk is to hold, and the threads for a long run
// (0: one per processor). Tests set small values to drive the threaded road with small logs.
struct ChunkSettings {
    int64_t bytes = 128 * 1024;
    int threads = 0;
    // Fewer chunks than this are made on the calling thread.
    int64_t minChunksForThreads = 4;
};
ChunkSettings& WriterChunking();
// Records per chunk for records of about bytesPerRecord of text each.
int64_t ChunkRecords(int64_t bytesPerRecord);

// Calls format(k, text) for k = 0 .. chunks-1 with an empty text (possibly on another thread, at
// the same time as other chunks), and take(text) for each in order on the calling thread. An
// exception from format reaches the caller at that chunk's turn; one from take ends the run
// (the workers stop after their current chunk) and is passed on.
void MakeChunksInOrder(int64_t chunks, const std::function<void(int64_t, std::string&)>& format,
                       const std::function<void(std::string&)>& take);

// True when records first..last (record numbers) hold one after which a writer polls for an
// abort: every 1024th, the cadence of the record loops.
inline bool AbortPollDue(int64_t first, int64_t last) { return (last + 1) / 1024 > first / 1024; }

// Records first..last cut into runs of `per` records: the chunks of a walk over a block.
struct RecordRuns {
    int64_t first, last, per;
    int64_t Count() const { return last < first ? 0 : (last - first) / per + 1; }
    int64_t First(int64_t k) const { return first + k * per; }
    int64_t Last(int64_t k) const { return std::min(last, First(k) + per - 1); }
    // After run k: whether its writer polls for an abort there.
    bool PollDue(int64_t k) const { return AbortPollDue(First(k), Last(k)); }
};

// The records of a block its writer's filter passed, by record number: the filter runs once ahead
// of the writing (it decides in order and sums the distance the head shows), and the chunks then
// pick their records from here.
class RecordSet {
public:
    void Reset(int64_t first, int64_t last) {
        first_ = first;
        bits_.assign(static_cast<size_t>(last >= first ? (last - first) / 64 + 1 : 0), 0);
    }
    void Add(int64_t i) {
        const auto j = static_cast<uint64_t>(i - first_);
        bits_[j >> 6] |= uint64_t{1} << (j & 63);
    }
    bool Has(int64_t i) const {
        const auto j = static_cast<uint64_t>(i - first_);
        return (bits_[j >> 6] >> (j & 63)) & 1;
    }

private:
    int64_t first_ = 0;
    std::vector<uint64_t> bits_;
};

}  // namespace ts
