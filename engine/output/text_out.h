// Output text built without the C library's locale: fixed-point numbers, the writers' line buffer
// with its compact mode, and XML-safe copies of texts that come from outside.
#pragma once

#include <string>
#include <string_view>

namespace ts {

// A "%W.Df" number format made from a decimals setting.
struct FloatFormat {
    int width = 0;
    int decimals = 0;
    std::string Text() const;  // "%6.4f"
};

// Reads the decimals setting; a value outside min..max becomes the midpoint of the range and is
// written back into the setting. Returns the format, "%" (n+2) "." n "f".
FloatFormat MakeFloatFmt(std::string& decimals, int min, int max);
std::string MakeFloatFormat(std::string& decimals, int min, int max);

// Appends v as "%W.Df" would, rounding half away from zero on the shortest decimal form of v (so
// 2.5 gives 3 and 0.15 gives 0.2 at one decimal). A value that is not finite is written as 0, so
// no "nan" or "inf" ever reaches a file; a result of zero carries no minus sign.
void AppendFixed(std::string& out, double v, int decimals, int width = 0);
inline void AppendFixed(std::string& out, double v, const FloatFormat& f) { AppendFixed(out, v, f.decimals, f.width); }
std::string FormatFixed(double v, int decimals, int width = 0);
// The same through the shortest decimal digits of v every time: the road AppendFixed takes only
// when v lies too near a rounding tie for plain arithmetic to decide it.
void AppendFixedByDigits(std::string& out, double v, int decimals, int width = 0);
// As AppendFixed, then trailing zeros of the fraction and a trailing "." removed.
void AppendFixedTrim(std::string& out, double v, int decimals, int width = 0);
void AppendInt(std::string& out, long long v);

// Appends line + CR LF. Compact: the line's leading tabs, then leading blanks, go, and so do the
// tabs that follow each embedded CR LF (blanks there stay).
void AppendLine(std::string& buffer, std::string_view line, bool compact);

// Line-by-line writing into a buffer, with the indentation that compact mode leaves out.
class LineOut {
public:
    LineOut(std::string& buffer, bool compact) : b_(&buffer), compact_(compact) {}
    // Starts a line indented by `tabs` tab characters; the caller appends the rest and calls End.
    std::string& Begin(int tabs) {
        if (!compact_) b_->append(static_cast<size_t>(tabs), '\t');
        return *b_;
    }
    void End() { b_->append("\r\n"); }
    void Line(int tabs, std::string_view text) {
        Begin(tabs).append(text);
        End();
    }
    std::string& Buffer() { return *b_; }
    bool Compact() const { return compact_; }

private:
    std::string* b_;
    bool compact_;
};

// Appends text as XML character data or attribute value: & < > " ' become entities, control
// characters XML cannot hold are left out, and bytes that are not valid UTF-8 are read as
// Windows-1252, so that the document stays well-formed whatever the file system gave us.
void AppendXmlText(std::string& out, std::string_view text);
std::string XmlText(std::string_view text);
// Appends text for the inside of a CDATA section: UTF-8 repaired as above, and every "]]>"
// split so that it cannot close the section.
void AppendCDataText(std::string& out, std::string_view text);

// Appends t as an XML Schema dateTime in UTC, "2024-03-16T09:00:00.5Z", the fraction of the second
// only as far as it is not zero. False, with nothing appended, when t cannot be shown.
bool AppendXmlDateTime(std::string& out, double t);

}  // namespace ts
