// The output file of one block: created when the block's text is complete, deleted again when the
// block fails before it is written out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/context.h"

namespace ts {

class OutFile {
public:
    OutFile() = default;
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;
    ~OutFile() { Discard(); }
    // Creates (or replaces) fileName. On failure reports "  Can't create: ", shows the message box
    // and returns false; on success shows " <name>  <status>" in status panel 0.
    bool Create(EngineContext& ctx, const std::string& fileName, const std::string& status);
    // These throw std::runtime_error when the data does not reach the disk.
    void Write(std::string_view s);
    // Appends length bytes of the file open as fd, from offset 0.
    void CopyFrom(int fd, uint64_t length);
    void Close();
    // Closes and deletes a file that was not completed.
    void Discard();

private:
    [[noreturn]] void Fail() const;
    int fd_ = -1;
    std::string name_;
};

// Runs one block's writing: an abort or any other failure discards the block's file and gives
// false, so that the writer goes on with its next block.
template <class Body>
bool RunBlock(EngineContext& ctx, OutFile& out, Body&& body) {
    try {
        return body();
    } catch (const AbortError&) {
        out.Discard();
    } catch (const std::exception& e) {
        out.Discard();
        ctx.Report(std::string("  ") + e.what());
    }
    return false;
}

// Writes every block chosen for output with writeBlock(block, out, total), each run as by
// RunBlock. Returns the total of the records made, -1 when no block is chosen or any block fails.
// When stop has turned true after a block, the writing ends there with -1.
template <class Body>
int32_t WriteOutputBlocks(EngineContext& ctx, const bool& stop, Body&& writeBlock) {
    int32_t total = 0;
    bool anySelected = false, failed = false;
    for (const TrackBlock& block : ctx.blocks.Items()) {
        if (!block.Output) continue;
        anySelected = true;
        OutFile out;
        if (!RunBlock(ctx, out, [&]() -> bool { return writeBlock(block, out, total); })) failed = true;
        if (stop) return -1;
    }
    if (!anySelected || failed) return -1;
    return total;
}

template <class Body>
int32_t WriteOutputBlocks(EngineContext& ctx, Body&& writeBlock) {
    static constexpr bool kNever = false;
    return WriteOutputBlocks(ctx, kNever, writeBlock);
}

// Reports a made file ("  Make: " name and count), adds its records to total and counts the file
// when it holds any.
void ReportMade(EngineContext& ctx, const std::string& name, int32_t count, int32_t& total);

// Reports that fileName is not made, and why when reason is not empty, in the report and in a
// message box.
void ReportCantCreate(EngineContext& ctx, const std::string& fileName, const std::string& reason = {});

// True when two file names are the same without regard to case.
bool SameFileName(const std::string& a, const std::string& b);

}  // namespace ts
