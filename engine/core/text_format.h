// Small text routines shared by the readers, writers and dialogs. Nothing here depends on the
// user's locale; the parsers never raise.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ts {

std::string Trim(std::string_view s);
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);

// "12:00:00.5" -> "12:00:00.500": the fraction after "." padded to three digits.
std::string PadMilliseconds(const std::string& t);
// Pads the fraction, then parses a date-time; throws ConvertError when it does not parse.
double StrToTimeMs(const std::string& s);
// "1day 12:00:00", "2days 06:00:00", "12:00:00".
std::string FormatDuration(const std::string& fmt, double t);
// Formats with ".z", ".zz", ".zzz" truncating milliseconds, or a final "." showing only the
// significant fraction. Empty on error.
std::string FormatTimeMs(const std::string& fmt, double t, char dateSep = '/', char timeSep = ':');
// Right-aligned in six columns; a longer number is not cut.
std::string IntToStr6(int32_t n);
// printf("%W.Df") with trailing zeros of the fraction and a trailing "." removed.
std::string FormatFloatTrim(int width, int decimals, double v);
// Trimmed text as a number; empty or bad text gives 0. Never raises.
double StrToFloatSafe(std::string_view s);
int32_t StrToIntSafe(std::string_view s);
// Strict parsers behind the safe ones: the whole trimmed text must be the number.
bool TryStrToFloat(std::string_view s, double& out);
bool TryStrToInt(std::string_view s, int32_t& out);
// UTF-8 helpers. Utf8SequenceLength: length (2..4) of the valid UTF-8 sequence at s[i], 0 when the
// bytes there are not one. Bytes that are not valid UTF-8 are read as Windows-1252 (older files).
void AppendUtf8(std::string& out, uint32_t codePoint);
size_t Utf8SequenceLength(std::string_view s, size_t i);
uint32_t Cp1252ToUnicode(unsigned char c);
std::string ToUtf8FromLegacy(std::string_view s);

// The file name of a path without folder and extension.
std::string PathWithoutExt(const std::string& path);
// The extension of a file name, dot included ("" when none).
std::string ExtractFileExt(const std::string& path);
std::string ExtractFileName(const std::string& path);
// Folder with its trailing separator.
std::string ExtractFilePath(const std::string& path);

}  // namespace ts
