#include "writer_test_util.h"

#include <charconv>

using namespace ts;

TEST(SafeParsers, NeverRaiseAndIgnoreLocale) {
    EXPECT_EQ(StrToFloatSafe("   "), 0.0);
    EXPECT_EQ(StrToFloatSafe("abc"), 0.0);
    EXPECT_EQ(StrToFloatSafe(" 12.5 "), 12.5);
    for (const char* bad : {"12,5", "nan", "inf", "1e999"}) EXPECT_EQ(StrToFloatSafe(bad), 0.0) << bad;
    EXPECT_EQ(StrToIntSafe(" -42 "), -42);
    for (const char* bad : {"12.5", "99999999999", ""}) EXPECT_EQ(StrToIntSafe(bad), 0) << bad;
}

TEST(SafeParsers, EveryDecimalReadsAsTheCorrectlyRoundedDouble) {
    // The plain forms take a short road; it must land on the very double the full parser gives.
    const auto full = [](std::string t) {
        if (!t.empty() && t[0] == '+') t.erase(0, 1);
        double v = 0;
        std::from_chars(t.data(), t.data() + t.size(), v);
        return v;
    };
    std::vector<std::string> texts = {"0.1",
                                      "35.6581234",
                                      "-0",
                                      "5.",
                                      ".5",
                                      "+5",
                                      "-000.0500",
                                      "123456789012345",
                                      "1234567890123456",
                                      "0.30000000000000004",
                                      "0.0000000000000000000001",
                                      "4916.45"};
    std::mt19937_64 rng(15);
    for (int i = 0; i < 20000; ++i) {
        std::string t = (rng() % 3 == 0) ? "-" : "";
        const int whole = static_cast<int>(rng() % 9), frac = static_cast<int>(rng() % 14);
        for (int k = 0; k < whole; ++k) t += static_cast<char>('0' + rng() % 10);
        if (frac > 0 || whole == 0) t += '.';
        for (int k = 0; k < std::max(frac, whole == 0 ? 1 : 0); ++k) t += static_cast<char>('0' + rng() % 10);
        texts.push_back(t);
    }
    for (const std::string& t : texts) {
        double v = 7;
        ASSERT_TRUE(TryStrToFloat(t, v)) << t;
        const double w = full(t);
        EXPECT_TRUE(v == w && std::signbit(v) == std::signbit(w)) << t << ": " << v << " against " << w;
    }
    double v = 0;
    for (const char* bad : {"+-5", "-", ".", "1.2.3", "--1", "1-"}) EXPECT_FALSE(TryStrToFloat(bad, v)) << bad;
}

TEST(DateTime, EncodeDecodeRoundTrip) {
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    DateParts p;
    ASSERT_TRUE(DecodeDateTime(EncodeDate(2024, 2, 29) + EncodeTime(23, 59, 59, 999), p));
    EXPECT_TRUE(p.year == 2024 && p.month == 2 && p.day == 29 && p.hour == 23 && p.ms == 999);
    // Half a millisecond before midnight rounds into the next day.
    ASSERT_TRUE(DecodeDateTime(EncodeDate(2024, 2, 29) + 1.0 - 0.4 * kOneMs, p));
    EXPECT_TRUE(p.day == 1 && p.month == 3 && p.hour == 0 && p.ms == 0);
    EXPECT_FALSE(DecodeDateTime(NAN, p));
    EXPECT_FALSE(DecodeDateTime(1e300, p));
    EXPECT_THROW(EncodeDate(2023, 2, 29), ConvertError);
}

TEST(DateTime, ParseDatesAndTimes) {
    EXPECT_EQ(StrToDateTime("12/6/2026"), EncodeDate(2026, 12, 6));
    EXPECT_DOUBLE_EQ(StrToDateTime("12/06/26 13:30:15.250"), EncodeDate(2026, 12, 6) + EncodeTime(13, 30, 15, 250));
    EXPECT_DOUBLE_EQ(StrToDateTime("12:00:00"), 0.5);
    EXPECT_DOUBLE_EQ(StrToDateTime("1:30 PM"), EncodeTime(13, 30, 0, 0));
    for (const char* bad : {"13/01/2026", "12:61:00", "abc", "", "12"})
        EXPECT_THROW(StrToDateTime(bad), ConvertError) << bad;
}

// Each pattern element, and more patterns in turn than are kept read: a pattern read again gives
// the same text.
TEST(DateTime, FormatPatterns) {
    const double t = EncodeDate(2026, 3, 7) + EncodeTime(15, 4, 5, 67);
    const std::pair<const char*, const char*> cases[] = {
        {"yyyy/mm/dd hh:nn:ss.zzz", "2026.03.07 15_04_05.067"},
        {"yy-m-d h:n:s.z", "26-3-7 15_4_5.67"},
        {"ddd d mmm yyyy", "Sat 7 Mar 2026"},
        {"dddd mmmm", "Saturday March"},
        {"hh:mm am/pm", "03_04 pm"},  // minutes after an hour
        {"hh:mm mm", "15_04 03"},     // only right after it
        {"h \"h\" 'mm' A/P", "3 h mm p"},
        {"hhmmAMPM", "0304PM"},
        {"yyyyy-mmmmm", "2026-March3"},
    };
    for (int round = 0; round < 3; ++round)
        for (const auto& [fmt, want] : cases) EXPECT_EQ(FormatDateTime(fmt, t, '.', '_'), want) << fmt;
}

TEST(TimeTexts, DatelessTimesWrapWithinTheDay) {
    // 01:00 UTC shown five hours behind UTC is 20:00, not a negative time.
    const double t = EncodeTime(1, 0, 0, 0);
    const double offset = 5.0 / 24.0;
    EXPECT_EQ(FormatDateTime("hh:nn:ss", ToLocalTime(t, offset)), "20:00:00");
    // A dated time keeps its date arithmetic.
    const double dated = EncodeDate(2026, 1, 2) + t;
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh", ToLocalTime(dated, offset)), "2026/01/01 20");
}
