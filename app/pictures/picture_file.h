// Decoding the PNG and JPEG pictures chosen as external icons or logo, for their previews.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ts {

// 8-bit RGBA, rows top to bottom, alpha not premultiplied.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgba;
};

enum class PictureKind { Jpeg, Png, Bitmap };

// By the lower-cased extension: ".jpg" and ".jpeg" JPEG, ".png" PNG, anything else a bitmap file.
PictureKind PictureKindOf(const std::string& fileName);

// A picture whose header claims more pixels than this is refused before anything is allocated:
// a preview never needs it, and a damaged header must not ask for gigabytes.
inline constexpr uint64_t kMaxPicturePixels = 64ull * 1024 * 1024;
inline constexpr uint32_t kMaxPictureSide = 32768;

// Both return false with a reason on any failure (missing file, damaged or truncated data, too
// large); `out` is then left empty.
bool ReadPngPicture(const std::string& fileName, Picture& out, std::string& error);
bool ReadJpegPicture(const std::string& fileName, Picture& out, std::string& error);

}  // namespace ts
