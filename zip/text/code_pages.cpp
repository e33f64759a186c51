#include "text/code_pages.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <vector>

#include <iconv.h>

#include "text/wide_text.h"

namespace zip {

namespace {

std::atomic<std::uint32_t> g_ansiCodePage{1252};
std::atomic<std::uint32_t> g_oemCodePage{437};

std::uint32_t ResolveCodePage(std::uint32_t cp) {
    if (cp == CP_ACP || cp == 3)  // 3: the thread's ANSI code page
        return DefaultSystemCodePage();
    if (cp == CP_OEMCP) return OemCodePage();
    if (cp == 2)  // the Macintosh code page
        return 10000;
    return cp;
}

std::string IconvName(std::uint32_t cp) {
    switch (cp) {
    case 1200: return "UTF-16LE";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    case 12001: return "UTF-32BE";
    case 20127: return "ASCII";
    case 10000: return "MACINTOSH";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 50220: return "ISO-2022-JP";
    case 51932: return "EUC-JP";
    case 51949: return "EUC-KR";
    case 54936: return "GB18030";
    default: break;
    }
    if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
    return "CP" + std::to_string(cp);
}

// iconv descriptors are not thread-safe: each thread keeps its own, opened once per direction.
class IconvCache {
public:
    ~IconvCache() {
        for (auto& [key, cd] : map_)
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
    iconv_t Get(std::uint32_t cp, bool toWide) {
        const auto key = std::make_pair(cp, toWide);
        auto it = map_.find(key);
        if (it == map_.end()) {
            const std::string name = IconvName(cp);
            iconv_t cd = toWide ? iconv_open("UTF-16LE", name.c_str()) : iconv_open(name.c_str(), "UTF-16LE");
            it = map_.emplace(key, cd).first;
        }
        if (it->second != reinterpret_cast<iconv_t>(-1))
            iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        return it->second;
    }

private:
    std::map<std::pair<std::uint32_t, bool>, iconv_t> map_;
};

thread_local IconvCache t_iconv;

// Runs iconv over the input; on a byte or character the other side cannot take, onBad is told
// the remaining input and returns how many input bytes to skip after appending its replacement.
template <typename OnBad>
bool RunIconv(iconv_t cd, const char* in, std::size_t inLeft, std::string& out, OnBad onBad) {
    std::vector<char> buf(inLeft * 4 + 16);
    char* inPtr = const_cast<char*>(in);
    while (inLeft > 0) {
        char* outPtr = buf.data();
        std::size_t outLeft = buf.size();
        const std::size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buf.data(), static_cast<std::size_t>(outPtr - buf.data()));
        if (r != static_cast<std::size_t>(-1)) continue;
        if (errno == E2BIG) continue;
        if (errno != EILSEQ && errno != EINVAL) return false;
        const std::size_t skip = std::min(inLeft, onBad(inPtr, inLeft, out));
        inPtr += skip;
        inLeft -= skip;
    }
    // Flush any shift state (stateful encodings).
    char* outPtr = buf.data();
    std::size_t outLeft = buf.size();
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    out.append(buf.data(), static_cast<std::size_t>(outPtr - buf.data()));
    return true;
}

std::u16string FromUtf16LEBytes(const std::string& b) {
    std::u16string w(b.size() / 2, u'\0');
    for (std::size_t i = 0; i < w.size(); ++i)
        w[i] = static_cast<char16_t>(static_cast<unsigned char>(b[2 * i]) |
                                     (static_cast<unsigned char>(b[2 * i + 1]) << 8));
    return w;
}

std::string ToUtf16LEBytes(const std::u16string& w) {
    std::string b(w.size() * 2, '\0');
    for (std::size_t i = 0; i < w.size(); ++i) {
        b[2 * i] = static_cast<char>(w[i] & 0xFF);
        b[2 * i + 1] = static_cast<char>(w[i] >> 8);
    }
    return b;
}

// --- Where iconv parts from the published tables --------------------------------------------------

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// One character of a page: its bytes (one, or two high byte first), the character iconv gives for
// them (0 when iconv refuses them) and the one the published table gives.
struct TableFix {
    std::uint16_t code;
    char16_t iconvChar;
    char16_t published;
};

// CP932 single bytes that iconv refuses.
constexpr TableFix kFixes932[] = {
    {0x80, 0, 0x0080}, {0xA0, 0, 0xF8F0}, {0xFD, 0, 0xF8F1}, {0xFE, 0, 0xF8F2}, {0xFF, 0, 0xF8F3},
};
// Mac Roman: the increment sign (iconv: Greek capital delta) and the logo character (another
// private-use point in iconv).
constexpr TableFix kFixes10000[] = {{0xC6, 0x0394, 0x2206}, {0xF0, 0xE01E, 0xF8FF}};

// CP950 C6A1..C6FE, C740..C77E, C7A1..C7FC: kana, Cyrillic and enclosed numbers, which iconv puts
// into the private-use area from U+F6B1 on, in the same order. Runs of consecutive characters:
// first place in that order, first character, count.
struct Cp950Run {
    std::uint16_t index;
    char16_t first;
    std::uint16_t count;
};
constexpr Cp950Run k950Runs[] = {
    {0, 0x30FE, 1},    {1, 0x309D, 2},    {3, 0x3005, 1},    {4, 0x3041, 83},   {87, 0x30A1, 86},
    {173, 0x0414, 2},  {175, 0x0401, 1},  {176, 0x0416, 7},  {183, 0x0423, 19}, {202, 0x0451, 1},
    {203, 0x0436, 26}, {229, 0x2460, 10}, {239, 0x2474, 10},
};
constexpr char16_t k950PrivateFirst = 0xF6B1;

std::uint16_t Cp950Code(int index) {
    if (index < 94) return static_cast<std::uint16_t>(0xC6A1 + index);
    if (index < 94 + 63) return static_cast<std::uint16_t>(0xC740 + index - 94);
    return static_cast<std::uint16_t>(0xC7A1 + index - 94 - 63);
}

struct PageFixes {
    std::map<unsigned char, char16_t> refused;  // single bytes iconv refuses
    std::map<char16_t, char16_t> replaced;      // iconv's character -> the published one
    std::map<char16_t, std::uint16_t> encode;   // the published character -> its bytes
    void Add(const TableFix& f) {
        if (f.iconvChar) replaced[f.iconvChar] = f.published;
        else refused[static_cast<unsigned char>(f.code)] = f.published;
        encode[f.published] = f.code;
    }
};

const PageFixes* FixesOf(std::uint32_t cp) {
    static const PageFixes fixes932 = [] {
        PageFixes p;
        for (const TableFix& f : kFixes932) p.Add(f);
        return p;
    }();
    static const PageFixes fixes950 = [] {
        PageFixes p;
        for (const Cp950Run& r : k950Runs)
            for (int k = 0; k < r.count; ++k)
                p.Add({Cp950Code(r.index + k), static_cast<char16_t>(k950PrivateFirst + r.index + k),
                       static_cast<char16_t>(r.first + k)});
        return p;
    }();
    static const PageFixes fixes10000 = [] {
        PageFixes p;
        for (const TableFix& f : kFixes10000) p.Add(f);
        return p;
    }();
    switch (cp) {
    case 932: return &fixes932;
    case 950: return &fixes950;
    case 10000: return &fixes10000;
    default: return nullptr;
    }
}

// CP1255 and CP1258 carry combining marks, which iconv composes with the letter before them; the
// published tables convert byte by byte, so these pages go through a table that iconv fills one
// byte at a time.
struct ByteTable {
    bool valid = false;  // iconv knows the page
    char16_t chars[256] = {};
    std::map<char16_t, unsigned char> bytes;
};

ByteTable BuildByteTable(std::uint32_t cp) {
    ByteTable t;
    iconv_t cd = iconv_open("UTF-16LE", IconvName(cp).c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return t;
    t.valid = true;
    for (int b = 255; b >= 0; --b) {  // downwards, so that a character's first byte wins
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char in = static_cast<char>(b);
        char out[16] = {};
        char* inPtr = &in;
        char* outPtr = out;
        std::size_t inLeft = 1, outLeft = sizeof out;
        bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
        ok = ok && iconv(cd, nullptr, nullptr, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
        const char16_t c =
            static_cast<char16_t>(static_cast<unsigned char>(out[0]) | (static_cast<unsigned char>(out[1]) << 8));
        if (ok && outPtr - out == 2 && c != 0xFFFD) {
            t.chars[b] = c;
            t.bytes[c] = static_cast<unsigned char>(b);
        } else {
            t.chars[b] = 0xFFFD;
        }
    }
    iconv_close(cd);
    return t;
}

const ByteTable* ByteTableOf(std::uint32_t cp) {
    static const ByteTable t1255 = BuildByteTable(1255);
    static const ByteTable t1258 = BuildByteTable(1258);
    if (cp == 1255) return &t1255;
    if (cp == 1258) return &t1258;
    return nullptr;
}

std::u16string IconvDecode(const std::string& s, std::uint32_t cp, const PageFixes* fixes) {
    iconv_t cd = t_iconv.Get(cp, true);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    std::string bytes;
    const bool ok = RunIconv(cd, s.data(), s.size(), bytes, [cp, fixes](const char* p, std::size_t, std::string& out) {
        // Windows-1252 maps its five undefined bytes to the C1 controls of the same value.
        const unsigned char b = static_cast<unsigned char>(*p);
        char16_t c = (cp == 1252 && b >= 0x80 && b <= 0x9F) ? static_cast<char16_t>(b) : u'\uFFFD';
        if (fixes) {
            const auto it = fixes->refused.find(b);
            if (it != fixes->refused.end()) c = it->second;
        }
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
        return std::size_t{1};
    });
    if (!ok) return {};
    std::u16string w = FromUtf16LEBytes(bytes);
    if (fixes && !fixes->replaced.empty()) {
        // None of the published characters is one iconv gives for other bytes, so this only
        // touches what iconv made of the fixed codes.
        for (char16_t& c : w) {
            const auto it = fixes->replaced.find(c);
            if (it != fixes->replaced.end()) c = it->second;
        }
    }
    return w;
}

std::string IconvEncode(const std::u16string& w, std::uint32_t cp) {
    iconv_t cd = t_iconv.Get(cp, false);
    if (cd == reinterpret_cast<iconv_t>(-1)) return {};
    const std::string in = ToUtf16LEBytes(w);
    std::string out;
    const bool ok = RunIconv(cd, in.data(), in.size(), out, [cp](const char* p, std::size_t left, std::string& o) {
        const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(p[0]) |
                                                 (left > 1 ? static_cast<unsigned char>(p[1]) << 8 : 0));
        if (cp == 1252 && c >= 0x80 && c <= 0x9F) {
            o += static_cast<char>(c);  // the reverse of the decoding rule above
            return std::size_t{2};
        }
        o += '?';
        const bool pair = IsHighSurrogate(c) && left >= 4 && (static_cast<unsigned char>(p[3]) & 0xFC) == 0xDC;
        return std::size_t{pair ? 4u : 2u};
    });
    return ok ? out : std::string();
}

// --- UTF-7 ---------------------------------------------------------------------------------

const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kDirect[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789'(),-./:?";
const char kOptional[] = "!\"#$%&*;<=>@[]^_`{|}";
const char kSpaces[] = " \t\r\n";

struct Utf7Tables {
    bool mustShiftSafe[128];  // optional set O shifted too
    bool mustShiftOpt[128];   // set O written directly
    signed char invBase64[128];
    Utf7Tables() {
        for (int i = 0; i < 128; ++i) {
            mustShiftSafe[i] = mustShiftOpt[i] = true;
            invBase64[i] = -1;
        }
        for (const char* p = kDirect; *p; ++p)
            mustShiftSafe[static_cast<int>(*p)] = mustShiftOpt[static_cast<int>(*p)] = false;
        for (const char* p = kSpaces; *p; ++p)
            mustShiftSafe[static_cast<int>(*p)] = mustShiftOpt[static_cast<int>(*p)] = false;
        for (const char* p = kOptional; *p; ++p) mustShiftOpt[static_cast<int>(*p)] = false;
        for (int i = 0; i < 64; ++i) invBase64[static_cast<int>(kBase64[i])] = static_cast<signed char>(i);
    }
};

const Utf7Tables& BuildUTF7Tables() {
    static const Utf7Tables tables;
    return tables;
}

bool IsBase64(char16_t c) { return c < 128 && BuildUTF7Tables().invBase64[c] >= 0; }

}  // namespace

std::uint32_t DefaultSystemCodePage() { return g_ansiCodePage.load(); }
std::uint32_t OemCodePage() { return g_oemCodePage.load(); }
void SetDefaultSystemCodePage(std::uint32_t codePage) { g_ansiCodePage = codePage ? codePage : 1252; }
void SetOemCodePage(std::uint32_t codePage) { g_oemCodePage = codePage ? codePage : 437; }

std::u16string StringToWideStringEx(const std::string& s, std::uint32_t codePage) {
    const std::uint32_t cp = ResolveCodePage(codePage);
    if (cp == CP_UTF7) return UTF7ToWideString(s);
    if (cp == CP_UTF8) return UTF8DecodeWide(s);
    if (s.empty()) return {};
    if (const ByteTable* table = ByteTableOf(cp)) {
        if (!table->valid) return {};
        std::u16string w(s.size(), u'\0');
        for (std::size_t i = 0; i < s.size(); ++i) w[i] = table->chars[static_cast<unsigned char>(s[i])];
        return w;
    }
    return IconvDecode(s, cp, FixesOf(cp));
}

std::string WideStringToStringEx(const std::u16string& w, std::uint32_t codePage) {
    const std::uint32_t cp = ResolveCodePage(codePage);
    if (cp == CP_UTF7) return WideStringToUTF7(w);
    if (cp == CP_UTF8) return UTF8EncodeWide(w);
    if (w.empty()) return {};
    if (const ByteTable* table = ByteTableOf(cp)) {
        if (!table->valid) return {};
        std::string out;
        out.reserve(w.size());
        for (std::size_t i = 0; i < w.size(); ++i) {
            const auto it = table->bytes.find(w[i]);
            out += it != table->bytes.end() ? static_cast<char>(it->second) : '?';
            if (it == table->bytes.end() && IsHighSurrogate(w[i]) && i + 1 < w.size() && IsLowSurrogate(w[i + 1]))
                ++i;  // one "?" for the pair
        }
        return out;
    }
    const PageFixes* fixes = FixesOf(cp);
    if (!fixes) return IconvEncode(w, cp);
    // The page's own characters that iconv lacks are written here; the rest goes to iconv in runs.
    std::string out;
    std::size_t runStart = 0;
    auto flush = [&](std::size_t end) {
        if (end > runStart) out += IconvEncode(w.substr(runStart, end - runStart), cp);
    };
    for (std::size_t i = 0; i < w.size(); ++i) {
        const auto it = fixes->encode.find(w[i]);
        const bool foreign = it == fixes->encode.end() && fixes->replaced.count(w[i]) > 0;
        if (it == fixes->encode.end() && !foreign) continue;
        flush(i);
        runStart = i + 1;
        if (foreign) {
            out += '?';
        } else {
            if (it->second > 0xFF) out += static_cast<char>(it->second >> 8);
            out += static_cast<char>(it->second & 0xFF);
        }
    }
    flush(w.size());
    return out;
}

int ConvertWideToUTF7(std::span<const char16_t> source, std::span<char> target, std::size_t& written, bool verbose,
                      bool optionalDirect) {
    const Utf7Tables& t = BuildUTF7Tables();
    const bool* mustShift = optionalDirect ? t.mustShiftOpt : t.mustShiftSafe;
    written = 0;
    auto put = [&](char c) {
        if (written >= target.size()) return false;
        target[written++] = c;
        return true;
    };
    bool shifted = false;
    std::uint32_t bitBuffer = 0;
    int bitCount = 0;
    auto flushBits = [&]() {
        if (bitCount > 0) {
            if (!put(kBase64[(bitBuffer << (6 - bitCount)) & 0x3F])) return false;
            bitCount = 0;
            bitBuffer = 0;
        }
        return true;
    };
    auto putBits = [&](char16_t r) {
        bitBuffer = (bitBuffer << 16) | r;
        bitCount += 16;
        while (bitCount >= 6) {
            bitCount -= 6;
            if (!put(kBase64[(bitBuffer >> bitCount) & 0x3F])) return false;
        }
        bitBuffer &= (1u << bitCount) - 1;
        return true;
    };
    for (std::size_t i = 0; i < source.size(); ++i) {
        const char16_t r = source[i];
        const bool needShift = r > 0x7F || mustShift[r];
        if (shifted) {
            if (needShift) {
                if (!putBits(r)) return utf7TargetFull;
                continue;
            }
            if (!flushBits()) return utf7TargetFull;
            if ((verbose || IsBase64(r) || r == u'-') && !put('-')) return utf7TargetFull;
            shifted = false;
        }
        if (r == u'+') {
            if (!put('+') || !put('-')) return utf7TargetFull;
        } else if (needShift) {
            if (!put('+') || !putBits(r)) return utf7TargetFull;
            shifted = true;
        } else if (!put(static_cast<char>(r))) {
            return utf7TargetFull;
        }
    }
    if (shifted) {
        if (!flushBits() || (verbose && !put('-'))) return utf7TargetFull;
    }
    return utf7Ok;
}

int ConvertUTF7ToWide(std::span<const char> source, std::span<char16_t> target, std::size_t& written) {
    const Utf7Tables& t = BuildUTF7Tables();
    written = 0;
    auto put = [&](char16_t c) {
        if (written >= target.size()) return false;
        target[written++] = c;
        return true;
    };
    std::size_t i = 0;
    const std::size_t n = source.size();
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(source[i++]);
        if (c >= 0x80) return utf7Invalid;  // UTF-7 is a 7-bit form
        if (c != '+') {
            if (!put(c)) return utf7TargetFull;
            continue;
        }
        if (i < n && source[i] == '-') {
            ++i;
            if (!put(u'+')) return utf7TargetFull;
            continue;
        }
        std::uint32_t bitBuffer = 0;
        int bitCount = 0;
        int produced = 0;
        while (i < n && static_cast<unsigned char>(source[i]) < 0x80 &&
               t.invBase64[static_cast<unsigned char>(source[i])] >= 0) {
            bitBuffer =
                (bitBuffer << 6) | static_cast<std::uint32_t>(t.invBase64[static_cast<unsigned char>(source[i++])]);
            bitCount += 6;
            if (bitCount >= 16) {
                bitCount -= 16;
                if (!put(static_cast<char16_t>(bitBuffer >> bitCount))) return utf7TargetFull;
                ++produced;
            }
            bitBuffer &= (1u << bitCount) - 1;
        }
        if (produced == 0 || bitBuffer != 0) return utf7Invalid;
        if (i < n && source[i] == '-') ++i;  // the run's closing dash is dropped
    }
    return utf7Ok;
}

std::string WideStringToUTF7(const std::u16string& w) {
    std::string out(w.size() * 7, '\0');
    std::size_t written = 0;
    if (ConvertWideToUTF7(w, out, written, false, true) != utf7Ok) throw EUniInternalError("Buffer overflow");
    out.resize(written);
    return out;
}

std::u16string UTF7ToWideString(const std::string& s) {
    std::u16string out(s.size(), u'\0');
    std::size_t written = 0;
    const int r = ConvertUTF7ToWide(s, out, written);
    if (r == utf7Invalid) throw EUniGeneralError("Invalid UTF7");
    if (r == utf7TargetFull) throw EUniInternalError("Buffer overflow");
    out.resize(written);
    return out;
}

void SwapWideByteOrder(std::span<char16_t> text) {
    for (auto& c : text) c = static_cast<char16_t>((c >> 8) | (c << 8));
}

}  // namespace zip
