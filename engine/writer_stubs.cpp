// Stand-ins for the writers that are not built yet: each writes nothing. Remove a function here
// when its writer lands.
#include "writers.h"

namespace ts {

int32_t WriteNmeaFiles(EngineContext&, const std::string&, const std::string&) { return 0; }
int32_t WriteGpx(EngineContext&, const std::string&) { return 0; }
int32_t WriteCsv(EngineContext&, const std::string&, const std::string&) { return 0; }

}  // namespace ts
