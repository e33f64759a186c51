// The output file of one block. Its text goes to a file without a name in the output's folder and
// takes the file's name only when it is complete, so that an older file of that name is replaced
// whole or not at all: a failure, an abort or a crash on the way leaves it as it was.
#pragma once

#include <fcntl.h>
#include <sys/types.h>

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
    // Starts fileName. On failure reports "  Can't create: ", shows the message box and returns
    // false; so does a folder, a read-only file or anything but a file standing under that name.
    // On success shows " <name>  <status>" in status panel 0.
    // temporary: fileName is the program's own scratch name ("<name>.$$$"); the text is given a name
    // of its own beside it (ScratchName) when it is closed, so that a run beside this one never
    // meets it.
    // replaces: for a temporary, the permissions of the file its text will replace (0: none), so
    // that the text is never more open than that file.
    bool Create(EngineContext& ctx, const std::string& fileName, const std::string& status, bool temporary = false,
                mode_t replaces = 0);
    // These throw std::runtime_error when the data does not reach the disk.
    void Write(std::string_view s);
    // Appends length bytes of the file open as fd, from offset 0.
    void CopyFrom(int fd, uint64_t length);
    // A descriptor of its own for reading the text written so far; -1 when there is none.
    int OpenForReading() const;
    // Completes the file: given the older file's permissions, flushed to the disk and closed without
    // error, it takes its name, replacing an older file. Throws std::runtime_error when that fails;
    // the older file then stays.
    void Close();
    // Drops a file that was not completed; an older file of its name stays.
    void Discard();
    // Where a temporary's text is, once it is closed; it is then the caller's to remove, and it
    // stays marked as in use until Discard or the end of the object.
    const std::string& ScratchName() const { return staging_; }

private:
    [[noreturn]] void Fail();
    // The name this output's scratch names are drawn from (ScratchNameFor).
    std::string ScratchNameSource(bool temporary) const;
    // Closes the descriptor that marks the scratch file as in use.
    void DropInUseMark();
    int fd_ = -1;
    int hold_ = -1;         // read-only: keeps an unnamed text once fd_ is closed, and holds the mark
                            // of a scratch file in use, also after Close
    std::string name_;      // as the report shows it
    std::string target_;    // the file replaced: name_, or the file a link of that name leads to
    std::string staging_;   // the scratch name the text takes before target_'s, or for good for a temporary
    bool unnamed_ = false;  // the text has no name yet
    bool staged_ = false;   // staging_ is ours to remove
    bool temporary_ = false;
    mode_t mode_ = 0;  // an older file's permissions, kept; 0: as made
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

// False when something stands under name that an output must not replace: a folder, a read-only
// file, anything but a file or a link to one. mode: the permissions of the file there, else 0.
bool MayReplace(const std::string& name, mode_t* mode = nullptr);
// The file an output named fileName replaces: fileName itself, or the file a link of that name
// leads to, which is written through as opening the link for writing would (a link that leads
// nowhere yet stays, and its target is made). False when MayReplace refuses it or the links run in
// a loop; mode as there.
bool ReplacedFile(const std::string& fileName, std::string& target, mode_t* mode);
// The permissions a scratch file is made with when its text will replace a file of permissions
// replaced (0: nothing is replaced): never more open to others than that file.
mode_t ScratchMode(mode_t replaced);
// Gives the complete file staging the name target, replacing an older file there, with that file's
// permissions mode (0: as made). False, with errno set and the older file as it was, when either
// fails.
bool ReplaceWith(const std::string& staging, const std::string& target, mode_t mode);
// A fresh scratch name for name: six random letters or digits go before its extension, so that
// "x.gpx.$$$" gives "x.gpx.Q3fz9a.$$$". Runs at the same time in one folder never draw the same.
std::string ScratchNameFor(const std::string& name);
// Creates a new file under a scratch name for name (above) that nothing else holds, with the
// permissions mode, open for access (O_WRONLY, O_RDONLY), and marks it as in use (a lock held as
// long as the descriptor is open; where the file system keeps no locks it goes unmarked). Returns
// its descriptor and sets scratch; -1 with errno set when it cannot be made, and then no file of
// its making is left. A file that stands already is never taken over.
int CreateHeldScratch(const std::string& name, mode_t mode, std::string& scratch, int access = O_WRONLY);
// Removes the scratch files of name (above) that no run holds any more, such as a crash left; a file
// that a run beside this one holds stays, and so does every file where there are no locks. Each
// folder is listed once a batch (ctx.scratchFound): files left there after that wait for the next.
void RemoveCrashedScratch(EngineContext& ctx, const std::string& name);
// Removes the program's own scratch file name; never a folder. False when it stays.
bool RemoveScratch(const std::string& name);
// Renames from to to when nothing stands under to. False otherwise, with errno set.
bool RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace ts
