#pragma once

#include <cstdio>
#include <string>

namespace ts {

// Opens name (links followed) read-only, only when it is a regular file. A pipe without a writer,
// a device or a folder is refused without waiting on it: -1 with errno set (ENXIO for a file that
// is not regular). The descriptor is close-on-exec and blocking, as an ordinary open gives.
int OpenRegularFile(const std::string& name);

// The same, as a binary stdio stream; nullptr with errno set when refused.
std::FILE* OpenRegularStream(const std::string& name);

}  // namespace ts
