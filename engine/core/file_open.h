#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace ts {

// Opens name (links followed) read-only, only when it is a regular file. A pipe without a writer,
// a device or a folder is refused without being opened: -1 with errno set (ENXIO for a file that
// is not regular). The descriptor is close-on-exec and blocking, as an ordinary open gives.
int OpenRegularFile(const std::string& name);

// A read-only descriptor of its own for the file open (or only looked up) as fd, through the
// process's /proc view of it: the same file, also once its name is gone or given to another. -1
// with errno set (ENOENT where /proc is not there).
int ReopenReadOnly(int fd);

// Opens name again without blocking where /proc is not there to reopen what was looked up: the
// descriptor is kept (and made blocking) only when it is still the regular file seen describes;
// otherwise -1 with errno set, ENXIO for another or a non-regular file.
int OpenSameRegularFile(const std::string& name, const struct stat& seen);

// The same, as a binary stdio stream; nullptr with errno set when refused.
std::FILE* OpenRegularStream(const std::string& name);

}  // namespace ts
