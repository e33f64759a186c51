// Picture files made in code for the preview tests, written by Qt so that the program's own
// readers are checked against an independent writer.
#pragma once

#include <QImage>

#include <cstdint>
#include <string>

#include "qt_test_app.h"

// An RGBA PNG of w x h whose pixel (x, y) is colour(x, y), 0xAARRGGBB.
template <class F>
inline bool WriteTestPng(const std::string& name, int w, int h, F colour) {
    TestApp();
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) img.setPixel(x, y, colour(x, y));
    return img.save(QString::fromStdString(name), "PNG");
}

inline bool WriteSolidPng(const std::string& name, int w, int h, uint32_t argb) {
    return WriteTestPng(name, w, h, [argb](int, int) { return argb; });
}

// A JPEG of w x h in one colour (quality 95).
inline bool WriteSolidJpeg(const std::string& name, int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    TestApp();
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(r, g, b));
    return img.save(QString::fromStdString(name), "JPEG", 95);
}
