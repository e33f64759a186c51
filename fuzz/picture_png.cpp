// The PNG picture loader.
#include "picture_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::FuzzPicture(data, size, "p.png", ts::ReadPngPicture);
}
