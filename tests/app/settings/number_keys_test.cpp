// Every number the settings file holds, and every one typed into an edit, is read by one rule: a
// single comma is the decimal mark, a comma that may group thousands is no number, and a number
// the key's range does not take gives way to the default with a report line. The cases run over
// the key table itself, so that a key added to it is covered too.
#include "settings/settings.h"

#include <gtest/gtest.h>

#include "qt_test_app.h"

#include <cmath>
#include <cstdio>
#include <map>

#include "core/decimal_text.h"
#include "core/text_format.h"

using namespace ts;

namespace {

TEST(DecimalRule, ACommaBeforeThreeDigitsMayGroupThousands) {
    for (const char* t : {"1,500", "-12,000", " 999,999 ", "+1,000"}) {
        EXPECT_TRUE(AmbiguousThousands(t)) << t;
        EXPECT_EQ(DecimalPointText(t), t) << t;  // not guessed
    }
    for (const char* t : {"0,125", "1,5", "1,50", "1,5000", "1234,567", "1.500", "1,500e3", "1,2,3", ",500"})
        EXPECT_FALSE(AmbiguousThousands(t)) << t;
    double v = 0;
    EXPECT_TRUE(ReadDecimal("0,125", v));
    EXPECT_DOUBLE_EQ(v, 0.125);
    EXPECT_TRUE(ReadDecimal("1234,567", v));
    EXPECT_DOUBLE_EQ(v, 1234.567);
    EXPECT_FALSE(ReadDecimal("1,500", v));
}

struct Loaded {
    std::string file;
    std::vector<std::string> notes;
};

// The file a load of `extra` saves back, and the lines the load has for the report.
Loaded LoadAndSave(const std::string& path, const NumberKey& k, const std::string* value) {
    // The old font keys are read by files from before they were renamed.
    const bool old = k.key.rfind("Eng", 0) == 0;
    std::string text = std::string("[Option]\r\nVersion=Trailsmith  Ver") + (old ? "1.40" : "2.20") + "\r\n";
    if (value) {
        if (k.section != std::string("Option")) text += "[" + std::string(k.section) + "]\r\n";
        text += k.key + "=" + *value + "\r\n";
    }
    WriteBytes(path, text);
    Settings s;
    s.WorkArea = {0, 0, 1920, 1080};
    IniStore in(path);
    EXPECT_TRUE(LoadSettings(s, in));
    std::remove(path.c_str());
    IniStore out(path);
    EXPECT_TRUE(SaveSettings(s, out));
    return {ReadBytes(path), s.loadNotes};
}

// A number of the key's kind inside its range, with "." or "," as its decimal mark.
std::string Sample(const NumberKey& k, char mark) {
    const double v = k.lo + (k.hi - k.lo) * 0.3;
    if (k.kind == NumberKey::Whole || k.kind == NumberKey::WholeText) return std::to_string(std::llround(v));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    std::string s = buf;
    s[s.find('.')] = mark;
    return s;
}

TEST(NumberKeys, EveryStoredNumberTakesTheOneRule) {
    TestApp();
    const std::string path = ScratchDir("numberkeys") + "trailsmith.ini";
    ASSERT_GT(NumberKeys().size(), 60u);
    for (const NumberKey& k : NumberKeys()) {
        SCOPED_TRACE(std::string(k.section) + "/" + k.key);
        const bool whole = k.kind == NumberKey::Whole || k.kind == NumberKey::WholeText;
        const Loaded none = LoadAndSave(path, k, nullptr);
        EXPECT_TRUE(none.notes.empty());

        const std::string dot = Sample(k, '.');
        const Loaded used = LoadAndSave(path, k, &dot);
        EXPECT_TRUE(used.notes.empty()) << used.notes.front();
        if (!whole) {
            // The decimal comma is the same number, saved with ".".
            const std::string comma = Sample(k, ',');
            const Loaded c = LoadAndSave(path, k, &comma);
            EXPECT_TRUE(c.notes.empty());
            EXPECT_EQ(c.file, used.file);
        }

        // What cannot be used is as if the key were missing, and the report names it.
        std::vector<std::string> bad = {"x1", "1,500"};
        if (k.hi < INT32_MAX) bad.push_back(FloatKeyText(k.hi + std::max(1.0, std::abs(k.hi))));
        for (const std::string& b : bad) {
            const Loaded r = LoadAndSave(path, k, &b);
            EXPECT_EQ(r.file, none.file) << b;
            EXPECT_EQ(r.notes.size(), 1u) << b;
            if (r.notes.size() != 1) continue;
            EXPECT_EQ(r.notes[0].rfind(
                          "  Not a number in range : [" + std::string(k.section) + "] " + k.key + "=" + b + " (", 0),
                      0u)
                << r.notes[0];
        }
    }
}

// The options text behind each edit of a settings key.
std::string* TextOf(TConversionOptions& o, const NumberKey& k) {
    const std::map<std::string, std::string TConversionOptions::*> texts = {
        {"OverSpeed2", &TConversionOptions::OverSpeed2},
        {"OverSpeed3", &TConversionOptions::OverSpeed3},
        {"OverSpeed4", &TConversionOptions::OverSpeed4},
        {"SplitIT", &TConversionOptions::SplitIT},
        {"HdopMask", &TConversionOptions::HdopMask},
        {"NsatMask", &TConversionOptions::NsatMask},
        {"Range", &TConversionOptions::Range},
        {"Tilt", &TConversionOptions::Tilt},
        {"Heading", &TConversionOptions::Heading},
        {"Multi", &TConversionOptions::Multi},
        {"Offset", &TConversionOptions::Offset3D},
        {"ViewLon", &TConversionOptions::ViewLon},
        {"ViewLat", &TConversionOptions::ViewLat},
        {"ViewAlt", &TConversionOptions::ViewAlt},
        {"AutoRangeMulti", &TConversionOptions::AutoRangeMulti},
        {"Alpha", &TConversionOptions::LineAlpha},
        {"Width", &TConversionOptions::LineWidth},
        {"ElapsesTimes", &TConversionOptions::ElapsesTimes},
        {"MovingDist", &TConversionOptions::MovingDist},
        {"GeoidValue", &TConversionOptions::GeoidValue},
        {"GroundLevelValue", &TConversionOptions::GroundLevelValue},
        {"LogoXpos", &TConversionOptions::LogoXpos},
        {"LogoYpos", &TConversionOptions::LogoYpos},
        {"LogoScale", &TConversionOptions::LogoScale}};
    const auto it = texts.find(k.key);
    return it == texts.end() ? nullptr : &(o.*(it->second));
}

// An icon scale key's slot: its edit holds the scale of the set in use.
int ScaleSlot(const NumberKey& k) {
    static const char* const names[8] = {"IconSp1S",   "IconSp2S",    "IconSp3S",   "IconSp4S",
                                         "IconIrestS", "IconIrest2S", "IconStartS", "IconEndS"};
    for (int i = 0; i < 8; ++i)
        if (k.key == names[i] || k.key == "ExtIcon" + std::to_string(i + 1) + "S") return i;
    return -1;
}

TEST(NumberKeys, EveryTypedNumberTakesTheOneRule) {
    int edits = 0;
    for (const NumberKey& k : NumberKeys()) {
        if (!k.field) continue;
        SCOPED_TRACE(k.key);
        ++edits;
        std::string t = " " + Sample(k, k.kind == NumberKey::Text || k.kind == NumberKey::Float ? ',' : '.');
        double v = 0;
        EXPECT_EQ(CheckNumber(k, t, v), NumberCheck::Used);
        EXPECT_EQ(t.find(','), std::string::npos);
        EXPECT_TRUE(NumberInRange(k, v));
        t = FloatKeyText(k.hi + std::max(1.0, std::abs(k.hi)));
        EXPECT_EQ(CheckNumber(k, t, v), NumberCheck::OutOfRange);
        EXPECT_EQ(RefusedNumberText(k, t, NumberCheck::OutOfRange).rfind(std::string(k.field) + " : ", 0), 0u);

        // "1,500" is refused by the field's name wherever it is typed, before it is used.
        t = "1,500";
        EXPECT_EQ(CheckNumber(k, t, v), NumberCheck::Ambiguous);
        const std::string said = std::string(k.field) + " : \"1,500\" is ambiguous. Type 1500 or 1.500.";
        EXPECT_EQ(RefusedNumberText(k, t, NumberCheck::Ambiguous), said);
        Settings s;
        s.opt.IconSource = k.section == std::string("ExtIcon") && ScaleSlot(k) >= 0 ? 1 : 0;
        std::string* text = ScaleSlot(k) >= 0 ? &s.opt.IconScale[ScaleSlot(k)] : TextOf(s.opt, k);
        ASSERT_TRUE(text) << "no edit text for " << k.key;
        EXPECT_EQ(AmbiguousNumberMessage(s), "");
        *text = "1,500";
        EXPECT_EQ(AmbiguousNumberMessage(s), said);
    }
    EXPECT_EQ(edits, 40);
}

}  // namespace
