#include "readers/csv_profiles.h"

#include <algorithm>

#include "core/text_format.h"

namespace ts {

namespace {

inline bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view TrimView(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && IsBlank(s[a])) ++a;
    while (b > a && IsBlank(s[b - 1])) --b;
    return s.substr(a, b - a);
}

inline char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when "," + field + "," occurs in `wrapped`, which begins and ends with a comma.
bool ListHolds(std::string_view wrapped, std::string_view field) {
    for (size_t pos = wrapped.find(field); pos != std::string_view::npos; pos = wrapped.find(field, pos + 1)) {
        const size_t end = pos + field.size();
        if (pos > 0 && wrapped[pos - 1] == ',' && end < wrapped.size() && wrapped[end] == ',') return true;
    }
    return false;
}

std::string Wrapped(std::string_view list) {
    std::string w;
    w.reserve(list.size() + 2);
    w.push_back(',');
    w.append(list);
    w.push_back(',');
    return w;
}

// Characters index..index+count-1 (1-based) of s, cut to what is there.
std::string_view Copy(std::string_view s, long long index, long long count) {
    if (index < 1) index = 1;
    const long long n = static_cast<long long>(s.size());
    if (count <= 0 || index > n) return std::string_view();
    count = std::min(count, n - index + 1);
    return s.substr(static_cast<size_t>(index - 1), static_cast<size_t>(count));
}

// Header text as matched: upper case, no blanks next to a comma.
void NormaliseHeaderLine(std::string_view line, std::string& out) {
    const std::string_view t = TrimView(line);
    out.clear();
    size_t i = 0;
    while (i < t.size()) {
        if (t[i] != ' ') {
            out.push_back(Upper(t[i]));
            ++i;
            continue;
        }
        size_t j = i;
        while (j < t.size() && t[j] == ' ') ++j;
        const bool commaBefore = i > 0 && t[i - 1] == ',';
        const bool commaAfter = j < t.size() && t[j] == ',';
        if (!commaBefore && !commaAfter) out.append(t.substr(i, j - i));
        i = j;
    }
}

// "V" (void, as in NMEA), texts starting with "INVALID", and "NO", "NON", "NOT" or "NONE" alone or
// followed by a blank, "-", "_" or "FIX" ("No fix", "NOFIX", "Non-fix", "not_fixed", "None"), in
// any case: no fix. Words that merely begin with those letters ("Normal", "North") say nothing about the fix.
bool SaysVoid(std::string_view text) {
    auto startsWith = [&](std::string_view s, std::string_view word) {
        return s.size() >= word.size() &&
               std::equal(word.begin(), word.end(), s.begin(), [](char w, char c) { return Upper(c) == w; });
    };
    if ((text.size() == 1 && Upper(text[0]) == 'V') || startsWith(text, "INVALID")) return true;
    std::string_view rest;
    if (startsWith(text, "NONE")) rest = text.substr(4);
    else if (startsWith(text, "NON")) rest = text.substr(3);
    else if (startsWith(text, "NOT")) rest = text.substr(3);
    else if (startsWith(text, "NO")) rest = text.substr(2);
    else return false;
    return rest.empty() || rest[0] == ' ' || rest[0] == '-' || rest[0] == '_' || startsWith(rest, "FIX");
}

}  // namespace

void SplitCsvLine(std::string_view line, CsvFields& out) {
    out.Count = 0;
    if (line.empty()) return;
    size_t start = 0;
    for (;;) {
        const size_t comma = out.Count < kCsvMaxFields - 1 ? line.find(',', start) : std::string_view::npos;
        if (comma == std::string_view::npos) {
            out.f[out.Count++] = TrimView(line.substr(start));
            return;
        }
        out.f[out.Count++] = TrimView(line.substr(start, comma - start));
        start = comma + 1;
    }
}

int SplitCsv6(std::string_view line, std::array<std::string, 6>& fields) {
    int count = 0;
    size_t pos = 0;
    while (count < 6 && pos < line.size()) {
        std::string field;
        if (line[pos] == '"') {
            const size_t close = line.find('"', pos + 1);
            const size_t stop = close == std::string_view::npos ? line.size() : close;
            field.assign(line.substr(pos + 1, stop - pos - 1));
            pos = close == std::string_view::npos ? line.size() : close + 1;
        }
        const size_t comma = line.find(',', pos);
        const size_t stop = comma == std::string_view::npos ? line.size() : comma;
        field.append(line.substr(pos, stop - pos));
        pos = comma == std::string_view::npos ? line.size() : comma + 1;
        fields[count++] = std::string(TrimView(field));
    }
    for (int i = count; i < 6; ++i) fields[i].clear();
    return count;
}

bool AnalyseCsvHeader(const TConversionOptions& o, LineReader& file, CsvHeader& h) {
    std::array<std::string, kCsvItemCount> aliases;
    for (int i = 0; i < kCsvItemCount; ++i) aliases[i] = Wrapped(UpperCase(o.CSVitem[i]));
    h.map.fill(0);
    h.fields.Count = 0;
    h.line.clear();
    bool found = false;
    std::string_view raw;
    h.lines = 0;
    for (; h.lines < 5 && !found && file.ReadLine(raw); ++h.lines) {
        NormaliseHeaderLine(raw, h.line);
        SplitCsvLine(h.line, h.fields);
        h.map.fill(0);
        for (int k = 1; k <= h.fields.Count; ++k)
            for (int i = 0; i < kCsvItemCount; ++i)
                if (ListHolds(aliases[i], h.fields.f[k - 1])) h.map[i] = k;
        found = h.map[ciLatitude] != 0 && h.map[ciLongitude] != 0;
    }
    // Some loggers end the header with a comma that names no column.
    for (h.columns = h.fields.Count; h.columns > 0 && h.fields.f[h.columns - 1].empty();) --h.columns;
    h.CsvProfileName = ChooseCsvProfile(o, h.fields, h.options);
    return found;
}

std::string ChooseCsvProfile(const TConversionOptions& o, const CsvFields& fields, CsvProfileOptions& options) {
    std::string name = "Default";
    for (const auto& [profile, value] : o.CsvInfoList) {
        if (CsvHeaderScore(fields, UpperCase(value)) >= 80) {
            name = profile;
            break;
        }
    }
    options = ApplyCsvOption(o, name);
    return name;
}

int32_t CsvHeaderScore(const CsvFields& fields, std::string_view value) {
    CsvFields names;
    SplitCsvLine(value, names);
    if (names.Count == 0) return 0;
    const std::string wrapped = Wrapped(value);
    int32_t found = 0;
    for (int k = 0; k < fields.Count; ++k)
        if (ListHolds(wrapped, fields.f[k])) ++found;
    return 100 * found / names.Count;
}

CsvProfileOptions ApplyCsvOption(const TConversionOptions& o, const std::string& profileName) {
    std::string value;
    for (const auto& [name, v] : o.CsvOptionList)
        if (name == profileName) {
            value = v;
            break;
        }
    std::array<std::string, 6> f;
    SplitCsv6(value, f);
    CsvProfileOptions p;
    p.CsvAddTimeOffset = StrToIntSafe(f[0]) != 0;
    p.CsvHeightsAboveGeoid = StrToIntSafe(f[1]) != 0;
    p.CsvDropMidnightRows = StrToIntSafe(f[2]) != 0;
    p.CsvSpeedUnit = StrToIntSafe(f[3]);
    p.CsvHeightsInFeet = StrToIntSafe(f[4]) != 0;
    p.CsvRepeatFlagsInterest = StrToIntSafe(f[5]) != 0;
    return p;
}

double CsvNumberValue(std::string_view text) {
    // Numbers in logs are short; a longer run of digits is still read, through the heap.
    char buf[64];
    size_t n = 0;
    std::string longer;
    for (char c : TrimView(text)) {
        if (!((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')) continue;
        if (n < sizeof buf) {
            buf[n++] = c;
        } else {
            if (longer.empty()) longer.assign(buf, n);
            longer.push_back(c);
        }
    }
    return StrToFloatSafe(longer.empty() ? std::string_view(buf, n) : std::string_view(longer));
}

int32_t CsvLeadingInteger(std::string_view text) {
    const std::string_view t = TrimView(text);
    size_t n = 0;
    while (n < t.size() && ((t[n] >= '0' && t[n] <= '9') || t[n] == '+' || t[n] == '-')) ++n;
    return StrToIntSafe(t.substr(0, n));
}

double CsvCoordToDegrees(std::string_view text) {
    const double v = CsvNumberValue(text);
    return text.find_first_of("SWsw") != std::string_view::npos ? -v : v;
}

void CsvDateToText(std::string_view text, std::string& out) {
    const long long n = static_cast<long long>(text.size());
    out.clear();
    out.append(Copy(text, n - 3, 2)).push_back('/');
    out.append(Copy(text, n - 1, 2)).push_back('/');
    out.append(Copy(text, 1, n - 4));
}

void CsvTimeToText(std::string_view text, std::string& out) {
    const long long n = static_cast<long long>(text.size());
    out.clear();
    const size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        out.append(Copy(text, 1, n - 4)).push_back(':');
        out.append(Copy(text, n - 3, 2)).push_back(':');
        out.append(Copy(text, n - 1, 2));
    } else {
        const long long p = static_cast<long long>(dot) + 1;
        out.append(Copy(text, 1, p - 5)).push_back(':');
        out.append(Copy(text, p - 4, 2)).push_back(':');
        out.append(Copy(text, p - 2, n));
    }
}

void CsvDateTimeSplit(std::string_view text, std::string& out) {
    const size_t slash = text.find('/');
    if (slash != 4) {
        out.assign(text);
        return;
    }
    const long long n = static_cast<long long>(text.size());
    const size_t blank = text.find(' ');
    const long long p = 5, q = blank == std::string_view::npos ? n + 1 : static_cast<long long>(blank) + 1;
    out.clear();
    out.append(Copy(text, p + 1, q - 1 - p)).push_back('/');
    out.append(Copy(text, 1, p - 1));
    out.append(Copy(text, q, n));
}

uint8_t CsvFixTypeCode(std::string_view text, bool acceptEstimated) {
    static constexpr std::string_view kTable =
        ",NO FIX,SPS,DGPS,PPS,RTK,FRTK,ESTIMATED (DEAD RECKONING),MANUAL INPUT MODE,SIMULATOR,ESTIMATED MODE,";
    static constexpr uint8_t kCodes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 6};
    int code = -1;
    int entry = 0;
    for (size_t s = 0; s + 1 < kTable.size() && code < 0; ++s) {
        if (kTable[s] != ',') continue;
        const std::string_view rest = kTable.substr(s + 1);
        if (text.size() <= rest.size() &&
            std::equal(text.begin(), text.end(), rest.begin(), [](char a, char b) { return Upper(a) == b; }))
            code = kCodes[entry];
        ++entry;
    }
    if (code < 0 && SaysVoid(text)) code = 0;
    if (code < 0) {
        // A number is the fix code itself; any other text (such as "Unknown" in every row of some
        // loggers) says nothing about the fix, like a log without a validity column.
        int32_t v = 0;
        code = TryStrToInt(text, v) ? static_cast<uint8_t>(v & 0xFF) : 1;
    }
    if (!acceptEstimated && code == 6) code = 0;
    return static_cast<uint8_t>(code);
}

}  // namespace ts
