// Picture files made in code for the preview tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

// An RGBA PNG of w x h whose pixel (x, y) is colour(x, y).
template <class F>
inline bool WriteTestPng(const std::string& name, int w, int h, F colour) {
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = colour(x, y);  // 0xAARRGGBB
            uint8_t* p = &px[(size_t(y) * w + x) * 4];
            p[0] = uint8_t(c >> 16);
            p[1] = uint8_t(c >> 8);
            p[2] = uint8_t(c);
            p[3] = uint8_t(c >> 24);
        }
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    img.width = uint32_t(w);
    img.height = uint32_t(h);
    img.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&img, name.c_str(), 0, px.data(), 0, nullptr) != 0;
}

inline bool WriteSolidPng(const std::string& name, int w, int h, uint32_t argb) {
    return WriteTestPng(name, w, h, [argb](int, int) { return argb; });
}

// A JPEG of w x h in one colour (quality 95). Test data only: libjpeg's default error handler ends
// the process on failure.
inline bool WriteSolidJpeg(const std::string& name, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return false;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = JDIMENSION(w);
    c.image_height = JDIMENSION(h);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 95, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(size_t(w) * 3);
    for (int x = 0; x < w; ++x) {
        row[3 * x] = r;
        row[3 * x + 1] = g;
        row[3 * x + 2] = b;
    }
    while (c.next_scanline < c.image_height) {
        JSAMPROW rp = row.data();
        jpeg_write_scanlines(&c, &rp, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return true;
}

inline std::string ReadBytes(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void WriteBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}
