// One picture loader on the fuzzer's bytes: a picture comes back with its pixels, or a reason and
// nothing.
#pragma once
#include "fuzz_util.h"
#include "pictures/picture_file.h"

namespace fuzz {

using PictureReader = bool (*)(const std::string&, ts::Picture&, std::string&);

inline int FuzzPicture(const uint8_t* data, size_t size, const char* name, PictureReader read) {
    if (size > 256 * 1024) return 0;
    const std::filesystem::path file = FreshScratch() / name;
    WriteBytes(file, data, size);
    ts::Picture pic;
    std::string error;
    if (read(file.string(), pic, error)) {
        Check(pic.width > 0 && pic.height > 0 && pic.rgba.size() == size_t(pic.width) * size_t(pic.height) * 4,
              "picture read with a wrong size");
    } else {
        Check(pic.rgba.empty() && !error.empty(), "a failed read leaves pixels or no reason");
    }
    return 0;
}

}  // namespace fuzz
