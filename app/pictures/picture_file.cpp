#include "pictures/picture_file.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "core/text_format.h"

namespace ts {

PictureKind PictureKindOf(const std::string& fileName) {
    const std::string ext = LowerCase(ExtractFileExt(fileName));
    if (ext == ".jpg" || ext == ".jpeg") return PictureKind::Jpeg;
    if (ext == ".png") return PictureKind::Png;
    return PictureKind::Bitmap;
}

namespace {

bool SizeAllowed(uint32_t w, uint32_t h) {
    return w > 0 && h > 0 && w <= kMaxPictureSide && h <= kMaxPictureSide && uint64_t(w) * h <= kMaxPicturePixels;
}

}  // namespace

bool ReadPngPicture(const std::string& fileName, Picture& out, std::string& error) {
    out = Picture();
    // The simplified interface keeps libpng's own longjmp inside the library.
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, fileName.c_str())) {
        error = image.message;
        return false;
    }
    if (!SizeAllowed(image.width, image.height)) {
        png_image_free(&image);
        error = "picture too large";
        return false;
    }
    image.format = PNG_FORMAT_RGBA;
    Picture pic;
    try {
        pic.rgba.resize(PNG_IMAGE_SIZE(image));
    } catch (const std::bad_alloc&) {
        png_image_free(&image);
        error = "out of memory";
        return false;
    }
    if (!png_image_finish_read(&image, nullptr, pic.rgba.data(), 0, nullptr)) {
        error = image.message;
        return false;
    }
    pic.width = static_cast<int>(image.width);
    pic.height = static_cast<int>(image.height);
    out = std::move(pic);
    return true;
}

namespace {

struct JpegError {
    jpeg_error_mgr pub;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void JpegErrorExit(j_common_ptr cinfo) {
    JpegError* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// Warnings of damaged data are not printed; the picture shows what could be read.
extern "C" void JpegOutputMessage(j_common_ptr) {}

// Decodes into a malloc'd RGBA buffer. Only C data lives in this frame and in the frames libjpeg
// jumps out of, so the longjmp skips no destructor. The caller frees *pixels and destroys cinfo.
int DecodeJpeg(std::FILE* file, jpeg_decompress_struct* cinfo, JpegError* err, unsigned char** pixels, unsigned* width,
               unsigned* height) {
    if (setjmp(err->jump)) return 0;
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, file);
    jpeg_read_header(cinfo, TRUE);
    if (!SizeAllowed(cinfo->image_width, cinfo->image_height)) {
        std::snprintf(err->message, sizeof err->message, "picture too large");
        return 0;
    }
    cinfo->out_color_space = JCS_RGB;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3 || !SizeAllowed(cinfo->output_width, cinfo->output_height)) {
        std::snprintf(err->message, sizeof err->message, "unexpected output format");
        return 0;
    }
    const unsigned w = cinfo->output_width, h = cinfo->output_height;
    *pixels = static_cast<unsigned char*>(std::malloc(size_t(w) * h * 4));
    if (!*pixels) {
        std::snprintf(err->message, sizeof err->message, "out of memory");
        return 0;
    }
    // Freed with cinfo by jpeg_destroy_decompress.
    JSAMPARRAY row = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, w * 3, 1);
    while (cinfo->output_scanline < h) {
        const unsigned y = cinfo->output_scanline;
        if (jpeg_read_scanlines(cinfo, row, 1) != 1) {
            std::snprintf(err->message, sizeof err->message, "no scanline");
            return 0;
        }
        unsigned char* dst = *pixels + size_t(y) * w * 4;
        for (unsigned x = 0; x < w; ++x) {
            dst[4 * x] = row[0][3 * x];
            dst[4 * x + 1] = row[0][3 * x + 1];
            dst[4 * x + 2] = row[0][3 * x + 2];
            dst[4 * x + 3] = 255;
        }
    }
    jpeg_finish_decompress(cinfo);
    *width = w;
    *height = h;
    return 1;
}

}  // namespace

bool ReadJpegPicture(const std::string& fileName, Picture& out, std::string& error) {
    out = Picture();
    std::FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) {
        error = "cannot open file";
        return false;
    }
    jpeg_decompress_struct cinfo;
    std::memset(&cinfo, 0, sizeof cinfo);
    JpegError err;
    std::memset(&err, 0, sizeof err);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = JpegErrorExit;
    err.pub.output_message = JpegOutputMessage;
    unsigned char* pixels = nullptr;
    unsigned w = 0, h = 0;
    const int ok = DecodeJpeg(file, &cinfo, &err, &pixels, &w, &h);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    if (!ok) {
        std::free(pixels);
        error = err.message;
        return false;
    }
    bool copied = true;
    try {
        out.rgba.assign(pixels, pixels + size_t(w) * h * 4);
        out.width = static_cast<int>(w);
        out.height = static_cast<int>(h);
    } catch (const std::bad_alloc&) {
        out = Picture();
        error = "out of memory";
        copied = false;
    }
    std::free(pixels);
    return copied;
}

}  // namespace ts
