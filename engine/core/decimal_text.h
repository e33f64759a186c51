// Numbers as users type them and settings files hold them: "." or a single "," is the decimal
// mark, as the user's locale may have it. A comma that may as well group thousands ("1,500") is
// read as neither: such a text is no number, so that nothing is guessed from it.
#pragma once

#include <string>
#include <string_view>

namespace ts {

// True for a comma followed by exactly three digits and nothing else, after one to three digits
// that are not a lone 0 (an optional sign and blanks around aside): "1,500", "-12,000", not
// "0,125", "1,5", "1,5000" or "1234,567".
bool AmbiguousThousands(std::string_view text);

// The text with its decimal comma written as "." when it is such a number; any other text, an
// ambiguous one included, as it is.
std::string DecimalPointText(const std::string& text);

// True when the whole trimmed text is such a number.
bool ReadDecimal(std::string_view text, double& out);

// The same, 0 for a text that is no number.
double DecimalOr0(std::string_view text);

}  // namespace ts
