// The conversion front end: the Convert action over the ";"-separated input list, the command
// line, dropped files and the settings file in use. It works through ShellView, which the main
// window implements (and tests replace).
#pragma once

#include <string>
#include <vector>

#include "core/context.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

namespace ts {

// A report text as lines: the engine joins some with "\r\n".
std::vector<std::string> SplitReportLines(const std::string& text);

// The time format the output uses, from the text of the time box: lower case, with "n" for the
// minutes ("m" would be months); AM/PM marks and quoted texts are kept.
std::string TimeFormatForOutput(const std::string& text);
// The date format from the text of the date box: lower case but for quoted texts, which are
// written as typed (an unclosed quote runs to the end of the format).
std::string DateFormatForOutput(const std::string& text);

class ShellView : public Host {
public:
    virtual std::string InputText() const = 0;
    virtual void SetInputText(const std::string& text) = 0;
    // Empties the report window.
    virtual void ClearReport() = 0;
    // Controls into the settings, and the settings back into the controls.
    virtual void StoreControls(Settings& /*s*/) {}
    virtual void ShowSettings(const Settings& /*s*/) {}
    virtual void ShowIcons() {}

    // The snapshot reads the controls as they stand when a file starts.
    void ReadConversionOptions(TConversionOptions& o) override;

    Settings* settings = nullptr;  // set by the front end
    // Report lines also go to standard output (unattended runs).
    bool echoReport = false;

protected:
    void Echo(const std::string& line) const;
};

class FrontEnd {
public:
    FrontEnd(ShellView& view, ProgramPaths paths);
    FrontEnd(const FrontEnd&) = delete;
    FrontEnd& operator=(const FrontEnd&) = delete;

    Settings settings;

    bool QuietMode = false;
    bool FirstActivation = true;
    bool GeoidModelChanged = false;
    std::string SettingsFileName;
    // Command-line arguments left out for an extension no reader knows.
    std::vector<std::string> SkippedArguments;
    // Replaces the engine's reader table (tests).
    ReaderFn (*readerLookup)(int kind) = nullptr;

    // Convert. Refused (false) while a batch runs.
    bool ButtonExecClick();
    void ParseCommandLine(const std::vector<std::string>& args);
    // Dropped names. Refused (false) while a batch runs.
    bool DropFiles(const std::vector<std::string>& names);
    // The names chosen in the open dialog become the input list.
    void SetInputFiles(const std::vector<std::string>& names);

    // A file that cannot be read is reported and left as it is: the settings in use stay, and
    // no save goes over it. A save that fails is reported (a read-only file is kept silently).
    bool LoadSettingsFile();
    bool SaveSettingsFile();
    // A settings file could not be read or saved: the run fails.
    bool SettingsFailed() const { return settingsFailed_; }
    // Points the settings at a command-line or dropped name and loads it.
    void UseSettingsFile(const std::string& name);

    bool Busy() const { return busy_; }
    // Exit status of a "/Q" run: 0 when the batch made files, none failed and the settings were read.
    int QuietExitStatus() const;
    int FilesFailed() const { return filesFailed_; }

private:
    ShellView& view_;
    ProgramPaths paths_;
    // Lives for the program run: the output stage offers the previous block choice again when the
    // same file is converted at the next Convert.
    EngineContext engine_;
    bool busy_ = false;
    bool batchRan_ = false;
    bool batchAborted_ = false;
    int filesFailed_ = 0;
    bool settingsUnread_ = false;  // the settings file in use could not be read
    bool settingsMoved_ = false;   // in the per-user folder after a failed write test
    bool settingsFailed_ = false;
};

}  // namespace ts
