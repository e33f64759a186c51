// Shared helpers of the NMEA tests: temporary logs and a context that keeps the point stream.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "context.h"
#include "convert.h"
#include "host.h"
#include "nmea_reader.h"

namespace ts::test {

// A sentence with its checksum: body is the text between "$" and "*".
inline std::string Nmea(const std::string& body) {
    unsigned x = 0;
    for (char c : body) x ^= static_cast<unsigned char>(c);
    char cs[8];
    std::snprintf(cs, sizeof cs, "*%02X", x);
    return "$" + body + cs;
}

class TempFile {
public:
    explicit TempFile(const std::string& content, const std::string& ext = ".nmea") {
        std::string tmpl = (std::filesystem::temp_directory_path() / "nmea_test_XXXXXX").string();
        const int fd = mkstemp(tmpl.data());
        if (fd >= 0) close(fd);
        std::filesystem::remove(tmpl);
        path_ = tmpl + ext;
        std::ofstream(path_, std::ios::binary) << content;
        std::filesystem::remove(tmpl);
    }
    ~TempFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A host whose calibration answer and abort behaviour tests can script.
class TestHost : public RecordingHost {
public:
    void ProcessMessages() override {
        ++pumps;
        if (abortAfterPumps > 0 && pumps >= abortAfterPumps) abortRequested = true;
    }
    void AskBarometerCalibration(const BarometerStart& s, BarometerReference& ref) override {
        ++calibrations;
        start = s;
        firstPressure = ref.pressure;
        if (answer) CalibrateBarometer(ref, answerAlt, answerTemp, false);
        else RecordingHost::AskBarometerCalibration(s, ref);
    }
    int pumps = 0;
    int abortAfterPumps = 0;
    int calibrations = 0;
    BarometerStart start;
    double firstPressure = 0;
    bool answer = false;
    std::string answerAlt = "0", answerTemp = "15";
};

struct Reading {
    TestHost host;
    EngineContext ctx{host};
    int32_t result = 0;

    Reading() {
        ctx.opt.KMZout = false;  // reading only: no output type ticked, so nothing is written
        DeriveOptions(ctx.opt);
        ctx.keepPoints = true;
    }
    // Reads a file as the given input kind, under the options the test set.
    int32_t Read(const std::string& path, int kind = ikNmea) {
        ctx.inputKind = kind;
        DeriveOptions(ctx.opt);
        result = ReadNmeaFile(ctx, path);
        return result;
    }
    int32_t ReadText(const std::string& text, int kind = ikNmea) {
        TempFile f(text);
        return Read(f.path(), kind);
    }
    bool HasLine(const std::string& line) const {
        for (const auto& l : host.lines)
            if (l == line) return true;
        return false;
    }
};

}  // namespace ts::test
