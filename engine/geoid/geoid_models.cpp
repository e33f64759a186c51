#include "geoid/geoid_models.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include "core/file_open.h"
#include "core/text_format.h"

namespace ts {

const char* const kGeoidModelNames[kGeoidModelCount] = {"Fixed value", "EGM2008 2.5'x2.5'", "EGM2008 1'x1'",
                                                        "GSIGEO 2000", "Custom Geoid"};

int GeoidModelIndex(const std::string& text) {
    for (int i = 0; i < kGeoidModelCount; ++i)
        if (text == kGeoidModelNames[i]) return i;
    return -1;
}

namespace {

constexpr const char* kCrLf = "\r\n";

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\n'; }

void SkipSeparators(std::string_view& text) {
    size_t i = 0;
    while (i < text.size() && IsSeparator(text[i])) ++i;
    text.remove_prefix(i);
}

// Splits off the next token; true when a separator followed it.
bool TakeToken(std::string_view& text, std::string_view& token) {
    SkipSeparators(text);
    size_t end = 0;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    token = text.substr(0, end);
    const bool delimited = end < text.size();
    text.remove_prefix(end);
    SkipSeparators(text);
    return delimited;
}

// Blanks and control characters off both ends of a file name.
std::string TrimControls(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
    while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
    return s.substr(b, e - b);
}

bool FileExists(const std::string& name) {
    std::error_code ec;
    return !name.empty() && std::filesystem::is_regular_file(std::filesystem::path(name), ec);
}

// Size of a regular file, -1 when there is none.
int64_t FileSize(const std::string& name) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::path(name), ec)) return -1;
    const auto size = std::filesystem::file_size(std::filesystem::path(name), ec);
    return ec ? -1 : int64_t(size);
}

// True when rows x cols nodes of 4 bytes plus extra bytes make exactly size bytes. The counts come
// from files and settings: they are checked by division, as their product may not fit 64 bits.
bool GridFillsFile(int64_t rows, int64_t cols, int64_t extra, int64_t size) {
    if (rows <= 0 || cols <= 0 || size < extra || (size - extra) % 4 != 0) return false;
    const int64_t nodes = (size - extra) / 4;
    return nodes % cols == 0 && nodes / cols == rows;
}

GeoidGridGeometry GeometryOf(const GeoidGridParams& p) {
    GeoidGridGeometry g;
    g.Stride = p.ncols;
    g.LatMin = p.glamn;
    g.LonMin = p.glomn;
    g.DLat = p.dgla;
    g.DLon = p.dglo;
    g.NRows = p.nlat;
    g.NCols = p.nlon;
    g.HeaderOffset = p.PrePad;
    return g;
}

int32_t LeInt32(const unsigned char* b) {
    return std::bit_cast<int32_t>(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
}

double LeDouble(const unsigned char* b) {
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = u << 8 | b[i];
    return std::bit_cast<double>(u);
}

void PutLeFloat(unsigned char* b, float v) {
    const uint32_t u = std::bit_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(u >> (8 * i));
}

// One line of a text file without its line feed; false at the end of the file or on a read error.
bool ReadTextLine(std::FILE* f, std::string& line) {
    line.clear();
    int c;
    while ((c = getc_unlocked(f)) != EOF) {
        if (c == '\n') return true;
        line.push_back(static_cast<char>(c));
    }
    return !line.empty() && !std::ferror(f);
}

bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t w = ::write(fd, data, size);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        data += w;
        size -= size_t(w);
    }
    return true;
}

}  // namespace

double NextFloatToken(std::string_view& text) {
    std::string_view token;
    const bool delimited = TakeToken(text, token);
    double v = 0;
    if (TryStrToFloat(token, v)) return v;
    if (delimited) throw std::invalid_argument("not a number: " + std::string(token));
    text = {};
    return kNaN;
}

int32_t NextIntToken(std::string_view& text) {
    std::string_view token;
    const bool delimited = TakeToken(text, token);
    int32_t v = 0;
    if (TryStrToInt(token, v)) return v;
    if (delimited) throw std::invalid_argument("not an integer: " + std::string(token));
    text = {};
    return 0;
}

bool ParseGsiGeoidHeader(std::string_view line, GeoidGridParams& p) {
    GeoidGridParams h = p;
    try {
        h.glamn = NextFloatToken(line);
        h.glomn = NextFloatToken(line);
        h.dgla = NextFloatToken(line);
        h.dglo = NextFloatToken(line);
        h.nlat = NextIntToken(line);
        h.nlon = NextIntToken(line);
        NextIntToken(line);  // kind, and the version text after it: not used
    } catch (const std::invalid_argument&) {
        return false;
    }
    h.nrows = h.nlat;
    h.ncols = h.nlon;
    GeoidGridGeometry g = GeometryOf(h);
    g.HeaderOffset = 0;  // the cache has no row framing
    if (!CheckGeoidGeometry(g).empty()) return false;
    p = h;
    return true;
}

// ---------------------------------------------------------------------------------------------

double GeoidModels::GeoidHeight(double lat, double lon) {
    if (!loaded_) return kNaN;
    switch (s_.GeoidModel) {
    case 0: return s_.FixedGeoid;
    case 1:
    case 2:
    case 4: return grid_.GeoidInterpolate(GeoidGrid::kSplineOrder, lat, lon);
    case 3: return grid_.GeoidInterpolate(s_.Spline ? GeoidGrid::kSplineOrder : 0, lat, lon);
    default: return kNaN;
    }
}

std::string GeoidModels::BrowseGeoidFile(const std::string& fileName, const std::string& filter) {
    const std::string chosen = host_.BrowseGeoidFile(s_.GeoidFolder, fileName, filter);
    if (chosen.empty()) return fileName;
    s_.GeoidFolder = ExtractFilePath(chosen);
    s_.GeoidPath = s_.GeoidFolder;
    return ExtractFileName(chosen);
}

bool GeoidModels::OpenGeoidGrid(const std::string& fileName, const GeoidGridGeometry& g, int32_t markedRowNodes) {
    grid_.Close();
    const std::string path = TrimControls(s_.GeoidFolder + fileName);
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        ErrorBox(std::string("Geoid file is not found:") + kCrLf + fileName);
        return false;
    }
    // The marker is read from the file the grid then reads, not from whatever the name gives later.
    unsigned char b[4];
    const bool marked =
        markedRowNodes <= 0 || (ReadAt(fd, 0, b, 4) && int64_t(LeInt32(b)) == int64_t(markedRowNodes) * 4);
    if (!marked) ::close(fd);
    std::string why;
    if (!marked || !grid_.Adopt(fd, g, &why)) {
        // A file that is there but does not fit its geometry would answer wrong heights.
        ErrorBox(std::string("Illegal geoid file: ") + kCrLf + kCrLf + path);
        return false;
    }
    return true;
}

bool GeoidModels::GsiCacheUsable(const std::string& cacheName) const {
    const int64_t size = FileSize(cacheName);
    return size >= 0 && GridFillsFile(s_.Gsi2000.nlat, s_.Gsi2000.ncols, 0, size);
}

bool GeoidModels::OpenGsiGeoidBinary(const std::string& fileName) {
    grid_.Close();
    const std::string text = s_.GeoidFolder + fileName;
    const std::string cache = text + ".dat";
    // A cache of the wrong size is left over from a broken run or another grid: build it again.
    if (GsiCacheUsable(cache)) return true;

    bool result = true;
    if (FileExists(text)) {
        host_.SetBusyCursor(true);
        host_.SetStatus(0, " Please waiting: Convert to binary file...");
        host_.ShowGeoidConverting(true);
        host_.ProcessMessages();
        if (ConvertGeoidTextToBinary(text)) {
            if (GsiCacheUsable(cache)) {
                host_.SetStatus(0, " Completed.");
            } else {
                host_.SetStatus(0, " Open error: " + fileName + ".dat");
                result = false;
            }
        } else {
            host_.SetStatus(0, " Error: Can not create: " + fileName + ".dat");
            ErrorBox(std::string("Can not create:") + kCrLf + cache);
            result = false;
        }
    } else {
        host_.SetStatus(0, " Error: Can not found: " + fileName);
        ErrorBox(std::string("Geoid file is not found:") + kCrLf + text);
        result = false;
    }
    host_.SetBusyCursor(false);
    host_.ShowGeoidConverting(false);
    return result;
}

bool GeoidModels::ConvertGeoidTextToBinary(const std::string& fullName) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(OpenRegularStream(fullName), &std::fclose);
    if (!in) return false;
    std::string line;
    GeoidGridParams h = s_.Gsi2000;
    if (!ReadTextLine(in.get(), line) || !ParseGsiGeoidHeader(line, h)) return false;

    const int64_t count = int64_t(h.nlat) * h.nlon;
    // Every value takes at least one character and one separator: a header that promises more
    // values than the file can hold is refused before the table is sized.
    struct stat st {};
    const int64_t textSize = ::fstat(::fileno(in.get()), &st) == 0 ? int64_t(st.st_size) : -1;
    if (textSize < 0 || count > (textSize + 1) / 2) {
        ErrorBox("Data is insufficient: " + fullName);
        return false;
    }
    std::vector<float> nodes(size_t(count), 0.0f);

    line.clear();
    std::string_view rest;
    try {
        for (int32_t r = 0; r < h.nlat; ++r) {
            for (int32_t c = 0; c < h.nlon; ++c) {
                SkipSeparators(rest);
                while (rest.empty()) {
                    if (!ReadTextLine(in.get(), line)) {
                        ErrorBox("Data is insufficient: " + fullName);
                        return false;
                    }
                    rest = line;
                    SkipSeparators(rest);
                }
                // Range first: a value beyond the single range must not be narrowed.
                const double v = NextFloatToken(rest);
                nodes[size_t(int64_t(r) * h.nlon + c)] = std::fabs(v) < 200.0 ? float(v) : kNaNf;
            }
            host_.ProcessMessages();
        }
        // Values beyond the header's count mean rows longer than it says: every row would be read
        // shifted. Such a grid is as damaged as a short one.
        for (;;) {
            SkipSeparators(rest);
            if (!rest.empty()) {
                double v = 0;
                std::string_view token;
                TakeToken(rest, token);
                if (TryStrToFloat(token, v)) {
                    ErrorBox("Data is excessive: " + fullName);
                    return false;
                }
                continue;  // not a value: left alone, as before
            }
            if (!ReadTextLine(in.get(), line)) break;
            rest = line;
        }
    } catch (const std::invalid_argument&) {
        return false;
    }
    if (std::ferror(in.get())) return false;

    // Written aside and renamed, so that a failed run never leaves a short cache that later runs
    // would take for a whole one.
    const std::string cache = fullName + ".dat";
    std::string tmpl = cache + ".XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    bool ok = true;
    std::vector<unsigned char> row(size_t(h.nlon) * 4);
    for (int32_t r = h.nlat - 1; r >= 0 && ok; --r) {
        const float* src = nodes.data() + size_t(int64_t(r) * h.nlon);
        for (int32_t c = 0; c < h.nlon; ++c) PutLeFloat(row.data() + size_t(c) * 4, src[c]);
        ok = WriteAll(fd, row.data(), row.size());
        host_.ProcessMessages();
    }
    ok = ::fchmod(fd, 0644) == 0 && ok;
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = std::rename(tmpl.c_str(), cache.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpl.c_str());
        return false;
    }
    // The settings take the text grid's geometry only with the cache that matches it.
    s_.Gsi2000 = h;
    return true;
}

bool GeoidModels::OpenCustomGeoid(const std::string& fullName) {
    grid_.Close();
    const std::string illegal = std::string("Illegal Custom geoid file: ") + kCrLf + kCrLf + fullName;
    const int fd = OpenRegularFile(fullName);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        ErrorBox(std::string("Geoid file is not found: ") + kCrLf + fullName);
        return false;
    }
    const int64_t size = st.st_size;
    if (size < 40) {
        ::close(fd);
        ErrorBox(illegal);
        return false;
    }
    unsigned char t[40];
    if (!ReadAt(fd, size - 40, t, 40)) {
        ::close(fd);
        ErrorBox(std::string("Geoid file is not found: ") + kCrLf + fullName);
        return false;
    }
    GeoidGridGeometry g;
    g.NRows = LeInt32(t);
    g.NCols = LeInt32(t + 4);
    g.Stride = g.NCols;
    g.LatMin = LeDouble(t + 8);
    g.LonMin = LeDouble(t + 16);
    g.DLat = LeDouble(t + 24);
    g.DLon = LeDouble(t + 32);
    g.HeaderOffset = 0;
    // The grid takes the descriptor over, so what is read is the file whose trailer was read.
    const bool fits = CheckGeoidGeometry(g).empty() && GridFillsFile(g.NRows, g.NCols, 40, size);
    if (!fits) ::close(fd);
    if (!fits || !grid_.Adopt(fd, g, nullptr, 40)) {
        grid_.Close();
        ErrorBox(illegal);
        return false;
    }
    return true;
}

void GeoidModels::SelectGeoidModel() {
    int model = s_.GeoidModel;
    loaded_ = false;
    view_ = GeoidView{};
    view_.modelText = model >= 0 && model < kGeoidModelCount ? kGeoidModelNames[model] : "";
    s_.GeoidCaption = view_.modelText;

    const GeoidGridParams* params = model == 1 ? &s_.Egm2008_25 : model == 2 ? &s_.Egm2008_10 : nullptr;
    std::string name, filter;
    if (params) {
        name = params->fname;
        filter = "Geoid file|" + name;
    } else if (model == 3) {
        name = s_.Gsi2000.fname;
        filter = "Geoid file|" + name + ";" + name + ".dat";
    } else if (model == 4) {
        name = s_.CustomGeoidFName;
        filter = "Custom Geoid file(*" + s_.CustomGeoidExt + ")|*" + s_.CustomGeoidExt;
    }

    if (model >= 1 && model <= 4) {
        const bool gsiPresent =
            model == 3 && (FileExists(s_.GeoidFolder + name + ".dat") || FileExists(s_.GeoidFolder + name));
        if (!gsiPresent && (name.empty() || !FileExists(s_.GeoidFolder + name))) {
            const std::string picked = BrowseGeoidFile(name, filter);
            if (model == 4) s_.CustomGeoidFName = picked;
        }
    }

    switch (model) {
    case 0:
        view_.fixedVisible = true;
        s_.GeoidCaption = s_.GeoidValue + " " + (s_.SpeedUnit == "km/h" ? "m" : "ft");
        loaded_ = true;
        break;
    case 1:
    case 2:
        // Published grids are Fortran records: a length word frames every row.
        loaded_ = OpenGeoidGrid(params->fname, GeometryOf(*params), params->PrePad > 0 ? params->nlon : 0);
        break;
    case 3:
        view_.splineVisible = true;
        loaded_ =
            OpenGsiGeoidBinary(s_.Gsi2000.fname) && OpenGeoidGrid(s_.Gsi2000.fname + ".dat", GeometryOf(s_.Gsi2000));
        break;
    case 4:
        loaded_ = !s_.CustomGeoidFName.empty() && OpenCustomGeoid(s_.GeoidFolder + s_.CustomGeoidFName);
        view_.customLabel = ExtractFileName(s_.CustomGeoidFName);
        break;
    default:
        model = 0;
        view_.modelText = s_.GeoidCaption = kGeoidModelNames[0];
        loaded_ = true;
        break;
    }

    if (!loaded_) {
        model = 0;
        view_.splineVisible = false;
        view_.modelText = s_.GeoidCaption = kGeoidModelNames[0];
        loaded_ = true;
        // Unattended runs see no message box; the report keeps the fact.
        host_.ReportLine("  Geoid grid not opened: Fixed value is used.");
    }
    view_.checkVisible = model >= 1;
    s_.GeoidModel = model;
}

}  // namespace ts
