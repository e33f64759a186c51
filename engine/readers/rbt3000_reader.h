// The RBT-3000 text log: a "DataLogs:" line, then records that start at a "Record:" line and hold
// one "key: value" line per field, in any letter case.
#pragma once

#include <string>

#include "core/context.h"

namespace ts {

// Reader contract: the output stage's result after reading points, 0 without points, -1 when the
// file cannot be opened, reading failed, a record's date does not convert or the user aborted, -2
// when the file is not an RBT-3000 log.
int32_t ReadRbt3000File(EngineContext& ctx, const std::string& fileName);

// The record's date and time texts as a date-time; fractional seconds are dropped. Throws
// ConvertError when the texts do not make a date.
double RbtFieldsToDateTime(const std::string& year, const std::string& month, const std::string& day,
                           const std::string& hour, const std::string& minute, const std::string& second);

}  // namespace ts
