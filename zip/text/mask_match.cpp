#include "text/mask_match.h"

#include "text/wide_text.h"

namespace zip {

bool WideMatchesMask(const std::u16string& name, const std::u16string& mask, bool ignoreCase) {
    if (mask == u"*.*") return true;
    auto same = [ignoreCase](char16_t a, char16_t b) {
        return ignoreCase ? WideCharUpper(a) == WideCharUpper(b) : a == b;
    };
    // Greedy walk with one backtrack point: linear in practice, never exponential.
    std::size_t n = 0, m = 0;
    std::size_t starMask = std::u16string::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == u'*') {
            starMask = m++;
            starName = n;
        } else if (m < mask.size() && (mask[m] == u'?' || same(mask[m], name[n]))) {
            ++m;
            ++n;
        } else if (starMask != std::u16string::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == u'*') ++m;
    return m == mask.size();
}

}  // namespace zip
