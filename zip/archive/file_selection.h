// Disk file selection for AddFiles: full paths, stored names, masks.
#pragma once

#include <string>

namespace zip {

// The drive of a name: a "//server/share" prefix, else empty. This platform has no drive
// letters, so a ":" is an ordinary character of a name.
std::u16string NameDrivePart(const std::u16string& name);

// The full path of name against base (or, without base, the working directory; an empty working
// directory is the process's current one). Names with a drive stay as they are.
std::u16string MakeFullPath(const std::u16string& base, const std::u16string& name, const std::u16string& workingDir);

// The name path gets inside the archive under the store-path mode (0 no path, 1 relative to
// base, 2 full path without drive, 3 full path with drive), with "/" separators; empty when
// nothing is left once the drive is cut off.
std::u16string MakeStoredName(const std::u16string& path, const std::u16string& base, int storePathMode,
                              const std::u16string& workingDir);

}  // namespace zip
