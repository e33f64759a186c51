// The JPEG picture loader: a picture comes back with its pixels, or a reason and nothing.
#include "fuzz_util.h"
#include "picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256 * 1024) return 0;
    const std::filesystem::path file = fuzz::FreshScratch() / "p.jpeg";
    fuzz::WriteBytes(file, data, size);
    ts::Picture pic;
    std::string error;
    if (ts::ReadJpegPicture(file.string(), pic, error)) {
        fuzz::Check(pic.width > 0 && pic.height > 0 && pic.rgba.size() == size_t(pic.width) * size_t(pic.height) * 4,
                    "picture read with a wrong size");
    } else {
        fuzz::Check(pic.rgba.empty() && !error.empty(), "a failed read leaves pixels or no reason");
    }
    return 0;
}
