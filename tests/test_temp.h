// A scratch folder of this test process, so that suites running side by side (several builds of
// the project on one machine) never share files.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

// Removed with everything in it when the process ends.
inline std::string ProcessTempDir() {
    static const struct Holder {
        std::string dir = testing::TempDir() + "trailsmith_" + std::to_string(getpid()) + "/";
        Holder() { std::filesystem::create_directories(dir); }
        ~Holder() {
            std::error_code ec;
            std::filesystem::remove_all(dir, ec);
        }
    } holder;
    return holder.dir;
}
