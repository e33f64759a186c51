#include "crypto/text_codecs.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "text/errors.h"

namespace zip {

namespace {

using namespace std::string_view_literals;

constexpr std::string_view kHexTable = "0123456789ABCDEFX$ abcdefhHx()[]{},;:-_/\\*+\"'\t\n\r"sv;
constexpr std::string_view kHexLowerTable = "0123456789abcdefX$ ABCDEFhHx()[]{},;:-_/\\*+\"'\t\n\r"sv;
constexpr std::string_view kBase64Table =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/= $()[]{},;:-_\\*\"'\t\n\r"sv;
constexpr std::string_view kUUTable = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_ \t\n\r"sv;
constexpr std::string_view kXXTable =
    "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz \"()[]'\t\n\r"sv;

// Hex tables: digits at 0..15, "X", "$", space, then the digit letters of the other case.
constexpr std::size_t kOtherCaseLetters = 19;

bool AllInTable(std::string_view table, const char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        if (table.find(data[i]) == std::string_view::npos) return false;
    return true;
}

struct Registry {
    std::mutex Lock;
    std::vector<const TStringFormat*> Formats;
};

Registry& Formats() {
    static Registry r{{},
                      {&TStringFormat::Instance(), &TStringFormatHex::Instance(), &TStringFormatHexLower::Instance(),
                       &TStringFormatBase64::Instance(), &TStringFormatUU::Instance(), &TStringFormatXX::Instance()}};
    return r;
}

}  // namespace

std::string TStringFormat::TextToBytes(const char* text, std::size_t length) const { return std::string(text, length); }

std::string TStringFormat::BytesToText(const std::uint8_t* data, std::size_t length) const {
    return std::string(reinterpret_cast<const char*>(data), length);
}

bool TStringFormat::IsValid(const char*, std::size_t, bool) const { return true; }

const TStringFormat& TStringFormat::Instance() {
    static const TStringFormat f;
    return f;
}

std::string_view TStringFormatHex::CharTable() const { return kHexTable; }

bool TStringFormatHex::IsValid(const char* data, std::size_t length, bool toBytes) const {
    return !toBytes || AllInTable(CharTable(), data, length);
}

std::string TStringFormatHex::BytesToText(const std::uint8_t* data, std::size_t length) const {
    const std::string_view table = CharTable();
    std::string out;
    out.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        out += table[data[i] >> 4];
        out += table[data[i] & 15];
    }
    return out;
}

std::string TStringFormatHex::TextToBytes(const char* text, std::size_t length) const {
    const std::string_view table = CharTable();
    std::string out;
    out.reserve(length / 2);
    bool restarted = false;
    int high = -1;
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t at = table.find(text[i]);
        if (at == std::string_view::npos) continue;
        int nibble = -1;
        if (at < 16) nibble = static_cast<int>(at);
        else if (at >= kOtherCaseLetters && at < kOtherCaseLetters + 6)
            nibble = static_cast<int>(at - kOtherCaseLetters) + 10;
        if (nibble < 0) {
            // The first prefix or separator drops what came before it ("$", "0x").
            if (!restarted) {
                restarted = true;
                out.clear();
                high = -1;
            }
            continue;
        }
        if (high < 0) {
            high = nibble;
        } else {
            out += static_cast<char>((high << 4) | nibble);
            high = -1;
        }
    }
    return out;
}

const TStringFormatHex& TStringFormatHex::Instance() {
    static const TStringFormatHex f;
    return f;
}

std::string_view TStringFormatHexLower::CharTable() const { return kHexLowerTable; }

const TStringFormatHexLower& TStringFormatHexLower::Instance() {
    static const TStringFormatHexLower f;
    return f;
}

std::string_view TStringFormatBase64::CharTable() const { return kBase64Table; }

std::string TStringFormatBase64::BytesToText(const std::uint8_t* data, std::size_t length) const {
    const std::string_view table = CharTable();
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    for (std::size_t i = 0; i < length; i += 3) {
        const std::size_t n = std::min<std::size_t>(3, length - i);
        std::uint32_t group = std::uint32_t{data[i]} << 16;
        if (n > 1) group |= std::uint32_t{data[i + 1]} << 8;
        if (n > 2) group |= data[i + 2];
        out += table[(group >> 18) & 63];
        out += table[(group >> 12) & 63];
        out += n > 1 ? table[(group >> 6) & 63] : '=';
        out += n > 2 ? table[group & 63] : '=';
    }
    return out;
}

std::string TStringFormatBase64::TextToBytes(const char* text, std::size_t length) const {
    const std::string_view table = CharTable();
    // Separators (spaces, line breaks, ...) are skipped, so wrapped text decodes whole.
    std::string symbols;
    symbols.reserve(length + 3);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t at = table.find(text[i]);
        if (at <= 64) symbols += static_cast<char>(at);  // 64 is the "=" pad
    }
    while (symbols.size() % 4 != 0) symbols += static_cast<char>(64);
    std::string out;
    out.reserve(symbols.size() / 4 * 3);
    for (std::size_t i = 0; i < symbols.size(); i += 4) {
        std::uint32_t group = 0;
        int pads = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int v = symbols[i + k];
            group <<= 6;
            if (v == 64) ++pads;
            else group |= static_cast<std::uint32_t>(v);
        }
        for (int k = 0; k < 3 - pads; ++k) out += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
    }
    return out;
}

const TStringFormatBase64& TStringFormatBase64::Instance() {
    static const TStringFormatBase64 f;
    return f;
}

std::string_view TStringFormatUU::CharTable() const { return kUUTable; }

bool TStringFormatUU::IsValid(const char* data, std::size_t length, bool toBytes) const {
    return !toBytes || AllInTable(CharTable(), data, length);
}

std::string TStringFormatUU::BytesToText(const std::uint8_t* data, std::size_t length) const {
    const std::string_view table = CharTable();
    std::string out;
    out.reserve(length / 45 + 1 + (length + 2) / 3 * 4);
    for (std::size_t line = 0; line < length; line += 45) {
        const std::size_t n = std::min<std::size_t>(45, length - line);
        out += table[n];
        for (std::size_t i = 0; i < n; i += 3) {
            const std::uint8_t* p = data + line + i;
            const std::uint32_t b0 = p[0];
            const std::uint32_t b1 = i + 1 < n ? p[1] : 0;
            const std::uint32_t b2 = i + 2 < n ? p[2] : 0;
            out += table[b0 >> 2];
            out += table[((b0 & 3) << 4) | (b1 >> 4)];
            out += table[((b1 & 15) << 2) | (b2 >> 6)];
            out += table[b2 & 63];
        }
    }
    return out;
}

std::string TStringFormatUU::TextToBytes(const char* text, std::size_t length) const {
    const std::string_view table = CharTable();
    std::vector<std::uint8_t> values;
    values.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const std::size_t at = table.find(text[i]);
        if (at < 64) values.push_back(static_cast<std::uint8_t>(at));
    }
    std::string out;
    out.reserve(values.size() * 3 / 4);
    std::size_t i = 0;
    while (i < values.size()) {
        const std::size_t count = values[i++];
        const std::size_t want = (count + 2) / 3 * 4;
        // A cut-off last line gives the bytes its characters fully hold, nothing read past.
        const std::size_t have = std::min(want, values.size() - i);
        const std::size_t bytes = std::min(count, have * 6 / 8);
        std::uint32_t bits = 0;
        int held = 0;
        std::size_t made = 0;
        for (std::size_t k = 0; k < have && made < bytes; ++k) {
            bits = (bits << 6) | values[i + k];
            held += 6;
            if (held >= 8) {
                held -= 8;
                out += static_cast<char>((bits >> held) & 0xFF);
                ++made;
            }
        }
        i += have;
    }
    return out;
}

const TStringFormatUU& TStringFormatUU::Instance() {
    static const TStringFormatUU f;
    return f;
}

std::string_view TStringFormatXX::CharTable() const { return kXXTable; }

const TStringFormatXX& TStringFormatXX::Instance() {
    static const TStringFormatXX f;
    return f;
}

void RegisterStringFormats(std::initializer_list<const TStringFormat*> formats) {
    Registry& r = Formats();
    std::lock_guard<std::mutex> hold(r.Lock);
    for (const TStringFormat* f : formats) {
        if (!f || f->FormatCode() == -1) continue;
        auto same = std::find_if(r.Formats.begin(), r.Formats.end(),
                                 [f](const TStringFormat* g) { return g->FormatCode() == f->FormatCode(); });
        if (same != r.Formats.end()) *same = f;
        else r.Formats.push_back(f);
    }
}

const TStringFormat* FindStringFormat(int code) {
    if (code == -1) code = DefaultStringFormat;
    Registry& r = Formats();
    std::lock_guard<std::mutex> hold(r.Lock);
    for (const TStringFormat* f : r.Formats)
        if (f->FormatCode() == code) return f;
    return nullptr;
}

std::vector<const TStringFormat*> RegisteredStringFormats() {
    Registry& r = Formats();
    std::lock_guard<std::mutex> hold(r.Lock);
    return r.Formats;
}

std::string BinaryToFormattedText(const void* data, std::ptrdiff_t length, int format) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    const std::size_t n =
        length < 0 ? (bytes ? std::strlen(static_cast<const char*>(data)) : 0) : static_cast<std::size_t>(length);
    if (n == 0 || !bytes) return {};
    const TStringFormat* f = FindStringFormat(format);
    if (!f) throw EStringFormat(ZipFormat("String Format \"%d\" not exists.", {std::int64_t{format}}));
    if (!f->IsValid(static_cast<const char*>(data), n, false))
        throw EStringFormat("Input can not be convert to " + f->DisplayName() + " Format.");
    return f->BytesToText(bytes, n);
}

std::string FormattedTextToBinary(const char* text, std::ptrdiff_t length, int format) {
    const std::size_t n = length < 0 ? (text ? std::strlen(text) : 0) : static_cast<std::size_t>(length);
    if (n == 0 || !text) return {};
    const TStringFormat* f = FindStringFormat(format);
    if (!f) throw EStringFormat(ZipFormat("String Format \"%d\" not exists.", {std::int64_t{format}}));
    if (!f->IsValid(text, n, true)) throw EStringFormat("Input is not an valid " + f->DisplayName() + " Format.");
    return f->TextToBytes(text, n);
}

}  // namespace zip
