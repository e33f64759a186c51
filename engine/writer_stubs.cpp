// Stand-ins for the writers that are not built yet: each writes nothing. Remove a function here
// when its writer lands.
#include "writers.h"

namespace ts {

// No archive component yet: the document stays under its ".$$$" name and the block counts as
// failed, so that no ".kmz" is reported that does not exist.
int32_t PackKmz(EngineContext&, const std::string&, const KmzContents&) { return -1; }

}  // namespace ts
