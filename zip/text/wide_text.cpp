#include "text/wide_text.h"

#include <algorithm>
#include <cwctype>

#include <locale.h>
#include <wctype.h>

namespace zip {

namespace {

locale_t UnicodeLocale() {
    // Falls back to the C locale (ASCII rules) where C.UTF-8 is missing.
    static const locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(nullptr));
        return l;
    }();
    return loc;
}

bool IsSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }

}  // namespace

std::string UTF8EncodeWide(const std::u16string& w) {
    std::string out;
    out.reserve(w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        char32_t c = w[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
            ++i;
        } else if (IsSurrogate(static_cast<char16_t>(c))) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string UTF8DecodeWide(const std::string& s) {
    std::u16string out;
    out.reserve(s.size());
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        int extra = 0;
        char32_t c = 0;
        char32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
            min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
            min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
            min = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool ok = true;
        for (int k = 0; k < extra; ++k, ++j) {
            if (j >= n || (static_cast<unsigned char>(s[j]) & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
        }
        if (!ok || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            i = ok ? j : std::max(j, i + 1);
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i = j;
    }
    return out;
}

char16_t WideCharUpper(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    if (IsSurrogate(c)) return c;
    const wint_t r = towupper_l(static_cast<wint_t>(c), UnicodeLocale());
    return r <= 0xFFFF && !IsSurrogate(static_cast<char16_t>(r)) ? static_cast<char16_t>(r) : c;
}

char16_t WideCharLower(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (IsSurrogate(c)) return c;
    const wint_t r = towlower_l(static_cast<wint_t>(c), UnicodeLocale());
    return r <= 0xFFFF && !IsSurrogate(static_cast<char16_t>(r)) ? static_cast<char16_t>(r) : c;
}

std::u16string ZipWideUpperCase(const std::u16string& s) {
    std::u16string r(s);
    for (auto& c : r) c = WideCharUpper(c);
    return r;
}

std::u16string ZipWideLowerCase(const std::u16string& s) {
    std::u16string r(s);
    for (auto& c : r) c = WideCharLower(c);
    return r;
}

bool WideCharIsSpace(char16_t c) { return !IsSurrogate(c) && iswspace_l(static_cast<wint_t>(c), UnicodeLocale()); }

bool WideCharIsPunct(char16_t c) { return !IsSurrogate(c) && iswpunct_l(static_cast<wint_t>(c), UnicodeLocale()); }

std::u16string WideFromAscii(const char* s) {
    std::u16string r;
    for (; s && *s; ++s) r += static_cast<char16_t>(static_cast<unsigned char>(*s));
    return r;
}

}  // namespace zip
