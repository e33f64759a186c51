// Wildcard match of names against masks ("*" any run, "?" any one character).
#pragma once

#include <string>

namespace zip {

// The mask "*.*" matches everything; otherwise "*" matches any run of characters (empty included)
// and "?" exactly one. With ignoreCase both sides are upper-cased character by character.
bool WideMatchesMask(const std::u16string& name, const std::u16string& mask, bool ignoreCase);

}  // namespace zip
