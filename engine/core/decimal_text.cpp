#include "core/decimal_text.h"

#include "core/text_format.h"

namespace ts {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool AmbiguousThousands(std::string_view text) {
    const std::string t = Trim(text);
    size_t i = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
    const size_t start = i;
    while (i < t.size() && IsDigit(t[i])) ++i;
    const size_t lead = i - start;
    if (lead < 1 || lead > 3 || (lead == 1 && t[start] == '0')) return false;
    if (i >= t.size() || t[i] != ',') return false;
    const size_t tail = t.size() - (i + 1);
    if (tail != 3) return false;
    for (size_t j = i + 1; j < t.size(); ++j)
        if (!IsDigit(t[j])) return false;
    return true;
}

std::string DecimalPointText(const std::string& text) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos || text.find(',', comma + 1) != std::string::npos ||
        text.find('.') != std::string::npos || AmbiguousThousands(text))
        return text;
    // Digits on both sides: "1," or ",5" are no numbers the user meant.
    auto digit = [&text](size_t i) { return i < text.size() && IsDigit(text[i]); };
    if (comma == 0 || !digit(comma - 1) || !digit(comma + 1)) return text;
    std::string t = text;
    t[comma] = '.';
    double v;
    return TryStrToFloat(t, v) ? t : text;
}

bool ReadDecimal(std::string_view text, double& out) { return TryStrToFloat(DecimalPointText(std::string(text)), out); }

double DecimalOr0(std::string_view text) {
    double v = 0;
    return ReadDecimal(text, v) ? v : 0.0;
}

}  // namespace ts
