// The engine's one way out to whoever runs it: the window, an unattended run or a test.
// Nothing here throws across the boundary; every call returns normally.
#pragma once

#include <string>
#include <vector>

#include "core/barometer.h"
#include "core/options.h"
#include "core/point_store.h"

namespace ts {

enum class MsgKind { Warning, Error, Information, Confirmation };
enum MsgButton : unsigned { mbOK = 1, mbCancel = 2, mbYes = 4, mbNo = 8 };

// What the barometer calibration shows of a log's start point, as ready texts.
struct BarometerStart {
    std::string fileName;
    std::string loggerText;  // the logger's version line
    std::string latText, lonText;
    std::string altText;      // pressure altitude against 1013.25 hPa and 15 C, "%3.1f m"
    std::string altEditText;  // the same, "%3.1f": the proposal when the altitude edit is empty
    std::string offsetText;   // "Barometer offset: ... hPa", empty when there is no offset
};

class Host {
public:
    virtual ~Host() = default;

    // One report line; a text holding "\r\n" becomes several lines.
    virtual void ReportLine(const std::string& line) = 0;
    // Status panel 0 (progress, per-file result) or 1 (secondary text).
    virtual void SetStatus(int panel, const std::string& text) = 0;
    virtual std::string Status(int panel) const = 0;
    // Shows the report window without making it modal.
    virtual void ShowReport() {}
    // Lets pending user input through, so that Esc and Cancel can set the abort flag.
    virtual void ProcessMessages() {}
    virtual bool AbortRequested() const { return abortRequested; }
    virtual void SetBusyCursor(bool /*busy*/) {}
    // A message box; answers one of the buttons offered. Unattended hosts take defaultButton.
    virtual MsgButton MessageDlg(const std::string& /*text*/, MsgKind /*kind*/, unsigned /*buttons*/,
                                 MsgButton defaultButton) {
        return defaultButton;
    }

    // Lets the user locate a geoid grid file: starts in folder, proposes fileName, offers filter
    // ("description|pattern;pattern"). Answers the chosen file's full name; empty when cancelled
    // or when nobody can answer.
    virtual std::string BrowseGeoidFile(const std::string& /*folder*/, const std::string& /*fileName*/,
                                        const std::string& /*filter*/) {
        return {};
    }
    // Shows or hides the geoid dialog's note that a text grid is being converted.
    virtual void ShowGeoidConverting(bool /*shown*/) {}

    // The output stage's block selector (several blocks) and time-range dialog (block curBlock).
    // They edit Output and the range fields of the table in place and answer false when the user
    // cancelled. Unattended hosts answer at once and leave the table as it is: every block whole.
    virtual bool SelectOutputBlocks(BlockTable& /*blocks*/, const PointStream& /*points*/,
                                    const TConversionOptions& /*o*/, int32_t& /*curBlock*/) {
        return true;
    }
    virtual bool SelectOutputRange(BlockTable& /*blocks*/, const PointStream& /*points*/,
                                   const TConversionOptions& /*o*/, int32_t /*curBlock*/) {
        return true;
    }

    // Calibrates the barometer at a log's start point (modal in the window, through
    // CalibrateBarometer). ref.pressure holds the log's first pressure on entry. Nobody to ask:
    // the standard reference.
    virtual void AskBarometerCalibration(const BarometerStart& /*start*/, BarometerReference& ref) {
        ref = BarometerReference();
    }

    // Fills the snapshot for the next input file and derives its values. The window copies its
    // controls in and writes corrected texts back; the default keeps the record as it stands.
    virtual void ReadConversionOptions(TConversionOptions& o) { DeriveOptions(o); }

    // Run-wide sinks the engine writes.
    bool showReportAtEnd = false;
    int filesMade = 0;
    bool abortRequested = false;
};

// Collects everything in memory; prints report lines when echo is set. For tests and /Q runs.
class RecordingHost : public Host {
public:
    explicit RecordingHost(bool echo = false) : echo_(echo) {}
    void ReportLine(const std::string& line) override;
    void SetStatus(int panel, const std::string& text) override;
    std::string Status(int panel) const override;
    void ShowReport() override { reportShown++; }
    MsgButton MessageDlg(const std::string& text, MsgKind kind, unsigned buttons, MsgButton def) override;

    std::vector<std::string> lines;     // the report, one entry per line
    std::vector<std::string> messages;  // message box texts, in order
    std::string status[2];
    int reportShown = 0;

private:
    bool echo_;
};

}  // namespace ts
