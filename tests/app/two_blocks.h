// A log of two blocks an hour apart, each of points one second apart, for the dialogs that list
// and limit blocks.
#pragma once

#include <string>

#include "core/date_time.h"
#include "forms/block_range.h"

namespace ts::test {

struct TwoBlocks {
    PointStream ps;
    BlockTable blocks;
    TConversionOptions o;
    explicit TwoBlocks(int points, const std::string& dateFormat = "yyyy/mm/dd") {
        o.OutDateFormatText = dateFormat;
        o.SpeedUnit = "km/h";
        DeriveOptions(o);
        o.TimeFmt = "hh:nn:ss";
        for (int k = 0; k < 2; ++k) {
            const double start = EncodeDate(2024, 3, 16) + (9 + k) / 24.0;
            TrackBlock& b = blocks.Open(ps.Count(), start);
            for (int i = 0; i < points; ++i) {
                TLogData p;
                p.Time = start + i * kOneSecond;
                ps.Append(p);
            }
            b.Last = ps.Count() - 1;
            b.EndTime = ps.At(b.Last).Time;
            b.Output = true;
        }
        ResetBlockRanges(blocks);
    }
};

}  // namespace ts::test
