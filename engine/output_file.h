// The output file of one block: created when the block's text is complete, deleted again when the
// block fails before it is written out.
#pragma once

#include <cstdio>
#include <string>

#include "context.h"

namespace ts {

struct OutFile {
    std::FILE* f = nullptr;
    std::string name;
    ~OutFile() { Discard(); }
    // Creates (or replaces) fileName. On failure reports "  Can't create: ", shows the message box
    // and returns false; on success shows " <name>  <status>" in status panel 0.
    bool Create(EngineContext& ctx, const std::string& fileName, const std::string& status);
    // Both throw std::runtime_error when the data does not reach the disk.
    void Write(const std::string& s);
    void Close();
    // Closes and deletes a file that was not completed.
    void Discard();
};

// Reports that fileName is not made, and why when reason is not empty, in the report and in a
// message box.
void ReportCantCreate(EngineContext& ctx, const std::string& fileName, const std::string& reason = {});

// True when two file names are the same without regard to case.
bool SameFileName(const std::string& a, const std::string& b);

}  // namespace ts
