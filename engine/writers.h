// The output writers the output stage runs, in its fixed order NMEA, KMZ, KML, GPX, CSV. Each
// writes one file per selected block into `folder` (the input's folder with its trailing
// separator) and returns the records written over all blocks, or -1 when a block failed.
#pragma once

#include <array>
#include <string>

#include "context.h"

namespace ts {

int32_t WriteNmeaFiles(EngineContext& ctx, const std::string& folder, const std::string& inputName);
// kmz: write each block's document as "<name>.$$$" and pack it into "<name>.kmz".
int32_t WriteKml(EngineContext& ctx, const std::string& folder, bool kmz);
int32_t WriteGpx(EngineContext& ctx, const std::string& folder);
int32_t WriteCsv(EngineContext& ctx, const std::string& folder, const std::string& inputName);

// What a KMZ archive of one block holds besides the document: the icons of the styles the
// document used (style order speed1 .. End) and the logo picture.
struct KmzContents {
    std::array<bool, 8> styleUsed{};
    bool logoPresent = false;
};
// Packs the ".$$$" document tempName into the ".kmz" of the same name; 0 when the archive was
// made, -1 otherwise.
int32_t PackKmz(EngineContext& ctx, const std::string& tempName, const KmzContents& contents);

}  // namespace ts
