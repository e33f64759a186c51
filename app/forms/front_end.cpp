#include "forms/front_end.h"

#include <iostream>

#include "core/text_format.h"
#include "geoid/geoid_models.h"
#include "readers/convert.h"
#include "settings/options_snapshot.h"

namespace ts {

std::vector<std::string> SplitReportLines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        const size_t p = text.find("\r\n", start);
        out.push_back(text.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) return out;
        start = p + 2;
    }
}

void ShellView::ReadConversionOptions(TConversionOptions& o) {
    if (!settings) {
        DeriveOptions(o);
        return;
    }
    StoreControls(*settings);
    TakeSnapshot(*settings, o);
    ShowSettings(*settings);
}

void ShellView::Echo(const std::string& line) const {
    if (echoReport) std::cout << line << '\n' << std::flush;
}

FrontEnd::FrontEnd(ShellView& view, ProgramPaths paths) : view_(view), paths_(std::move(paths)), engine_(view) {
    view_.settings = &settings;
    settings.programDir = paths_.Dir();
    settings.DataPath = settings.OpenDir = settings.programDir;
}

namespace {

bool AnyOutput(const TConversionOptions& o) { return o.NMEAout || o.KMZout || o.KMLout || o.GPXout || o.CSVout; }

bool IsIni(const std::string& name) { return LowerCase(ExtractFileExt(name)) == ".ini"; }

std::string JoinList(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : ";") + n;
    return list;
}

}  // namespace

std::string TimeFormatForOutput(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == '\'' || c == '"') {
            size_t j = text.find(c, i + 1);
            j = j == std::string::npos ? text.size() : j + 1;
            out.append(text, i, j - i);
            i = j;
            continue;
        }
        const std::string rest = LowerCase(text.substr(i, 5));
        size_t mark = 0;
        for (const char* m : {"am/pm", "ampm", "a/p"})
            if (rest.rfind(m, 0) == 0) {
                mark = std::char_traits<char>::length(m);
                break;
            }
        if (mark) {
            out += rest.substr(0, mark);
            i += mark;
            continue;
        }
        const char l = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        out += l == 'm' ? 'n' : l;
        ++i;
    }
    return out;
}

std::string DateFormatForOutput(const std::string& text) {
    std::string out = text;
    char quote = 0;
    for (char& c : out) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

bool FrontEnd::ButtonExecClick() {
    // The message loop runs during a batch: a second one would replace the engine state under it.
    if (busy_) return false;
    view_.StoreControls(settings);
    TConversionOptions& o = settings.opt;
    if (!AnyOutput(o)) {
        view_.MessageDlg(" Please select \"Output File type\". ", MsgKind::Warning, mbOK, mbOK);
        return true;
    }
    // A comma that may group thousands is not guessed: the user says which number is meant.
    if (const std::string ambiguous = AmbiguousNumberMessage(settings); !ambiguous.empty()) {
        view_.MessageDlg(ambiguous, MsgKind::Warning, mbOK, mbOK);
        return true;
    }
    // Typed numbers go by the load's rule: this conversion uses what the next start would load,
    // and the report says what gave way, before the batch's own lines.
    UseTypedNumbers(settings);
    busy_ = true;
    EngineContext& ctx = engine_;
    ctx.BeginBatch();
    ctx.readerLookup = readerLookup;
    ctx.locale = settings.locale;
    view_.abortRequested = false;

    o.OutDateFormatText = DateFormatForOutput(o.OutDateFormatText);
    o.TimeFmt = TimeFormatForOutput(o.TimeFormatText);
    if (o.GeoidValue != settings.LastCustomGeoidText) {
        ParseCustomGeoid(settings);
        settings.LastCustomGeoidText = o.GeoidValue;
    }
    if (o.GroundLevelValue != settings.LastGroundLevelText) {
        ParseGroundLevel(settings);
        settings.LastGroundLevelText = o.GroundLevelValue;
    }
    view_.ShowSettings(settings);

    view_.SetStatus(0, "");
    view_.SetStatus(1, "");
    view_.ClearReport();
    // Told again where the report of this conversion shows it, then once only.
    for (const std::string& note : settings.loadNotes) view_.ReportLine(note);
    settings.loadNotes.clear();
    // The grid opens for the batch, after the report was cleared so that its fallback line stays.
    GeoidModels geoid(view_, o);
    geoid.SelectGeoidModel();
    // A grid that did not open fell back to the fixed value, ticked box or not: the geoid dialog
    // shows it so and the settings keep it.
    settings.GeoidModelText = geoid.View().modelText;
    view_.ShowSettings(settings);
    ctx.geoid = &geoid;
    view_.filesMade = 0;
    filesFailed_ = 0;
    batchRan_ = true;
    ctx.opt = o;

    // Empty names (a trailing or doubled ";") are skipped rather than converted as nothing.
    std::string list = Trim(view_.InputText());
    size_t start = 0;
    while (start <= list.size() && !view_.AbortRequested()) {
        size_t p = list.find(';', start);
        if (p == std::string::npos) p = list.size();
        const std::string name = Trim(list.substr(start, p - start));
        start = p + 1;
        if (name.empty()) continue;
        const int made = view_.filesMade;
        const int32_t result = ConvertFile(ctx, name);
        if (KeepRepairedDecimals(ctx.opt, settings.opt)) view_.ShowSettings(settings);
        if (result <= 0 || view_.filesMade == made) ++filesFailed_;
    }
    batchAborted_ = view_.AbortRequested();
    if (!batchAborted_) {
        if (view_.filesMade > 0) view_.ReportLine("*** Made: " + std::to_string(view_.filesMade) + " files ***");
    } else {
        view_.ReportLine("*** Aborted by user ***");
        view_.SetStatus(0, "*** Aborted by user ***");
        view_.SetStatus(1, "");
    }
    geoid.CloseGeoid();
    ctx.geoid = nullptr;
    busy_ = false;
    return true;
}

void FrontEnd::UseSettingsFile(const std::string& name) {
    const IniLocation loc = GetIniFileName(paths_, name);
    if (!loc.error.empty()) view_.MessageDlg(loc.error, MsgKind::Error, mbOK, mbOK);
    if (!loc.notice.empty()) view_.MessageDlg(loc.notice, MsgKind::Warning, mbOK, mbOK);
    settingsMoved_ = !loc.notice.empty();
    SettingsFileName = loc.path;
    LoadSettingsFile();
}

bool FrontEnd::LoadSettingsFile() {
    view_.StoreControls(settings);
    IniStore ini(SettingsFileName);
    settingsUnread_ = ini.ReadFailed();
    if (settingsUnread_) {
        settingsFailed_ = true;
        view_.MessageDlg("Cannot read : " + SettingsFileName + "\r\n " + ini.Error(), MsgKind::Error, mbOK, mbOK);
        return false;
    }
    const bool ok = LoadSettings(settings, ini);
    view_.ShowSettings(settings);
    for (const std::string& note : settings.loadNotes) view_.ReportLine(note);
    return ok;
}

bool FrontEnd::SaveSettingsFile() {
    if (SettingsFileName.empty()) return true;
    // Settings that were not read would replace the user's choices with the ones in use.
    if (settingsUnread_) return false;
    view_.StoreControls(settings);
    IniStore ini(SettingsFileName);
    if (SaveSettings(settings, ini)) {
        if (settingsMoved_) view_.ReportLine("  Settings saved : " + SettingsFileName);
        return true;
    }
    // A file the user made read-only is left as it is, silently.
    if (!ini.ReadFailed() && ini.ReadOnly()) return false;
    settingsFailed_ = true;
    view_.MessageDlg("Cannot save : " + SettingsFileName, MsgKind::Error, mbOK, mbOK);
    return false;
}

void FrontEnd::ParseCommandLine(const std::vector<std::string>& args) {
    bool anyIni = false;
    for (const std::string& a : args)
        if (IsIni(a)) {
            anyIni = true;
            UseSettingsFile(a);
        }
    if (!anyIni) UseSettingsFile("");
    view_.ShowIcons();

    std::vector<std::string> inputs;
    SkippedArguments.clear();
    for (const std::string& a : args) {
        if (IsIni(a)) continue;
        if (a == "/Q" || a == "/q") QuietMode = true;
        else if (DetectInputKind(settings.opt, a) != 0) inputs.push_back(a);
        else SkippedArguments.push_back(a);
    }
    view_.SetInputText(JoinList(inputs));
    view_.echoReport = QuietMode && !inputs.empty();
    // Settings that could not be read are not the user's: nothing is converted with them.
    if (!inputs.empty()) {
        if (!settingsUnread_) ButtonExecClick();
    } else {
        QuietMode = false;
    }
}

bool FrontEnd::DropFiles(const std::vector<std::string>& names) {
    if (busy_) return false;
    std::vector<std::string> inputs;
    for (const std::string& n : names) {
        if (IsIni(n)) {
            SaveSettingsFile();
            UseSettingsFile(n);
            view_.ShowIcons();
        } else if (DetectInputKind(settings.opt, n) != 0) {
            inputs.push_back(n);
        }
    }
    view_.SetInputText(JoinList(inputs));
    ButtonExecClick();
    return true;
}

void FrontEnd::SetInputFiles(const std::vector<std::string>& names) {
    if (names.empty()) return;
    // The next opening starts where this one ended; the saved DataPath stays as loaded.
    settings.OpenDir = ExtractFilePath(names.front());
    view_.SetInputText(JoinList(names));
    view_.SetStatus(0, "");
    view_.SetStatus(1, "");
}

int FrontEnd::QuietExitStatus() const {
    return batchRan_ && !batchAborted_ && view_.filesMade > 0 && filesFailed_ == 0 && !settingsFailed_ ? 0 : 1;
}

}  // namespace ts
