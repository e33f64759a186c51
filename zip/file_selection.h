// Disk file selection for AddFiles: full paths, stored names, masks.
#pragma once

#include <string>

namespace zip {

// The full path of name against base (or, without base, the working directory; an empty working
// directory is the process's current one). Names with a drive stay as they are.
std::u16string MakeFullPath(const std::u16string& base, const std::u16string& name, const std::u16string& workingDir);

}  // namespace zip
