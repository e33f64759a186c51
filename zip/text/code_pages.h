// Conversions between byte strings in a code page and wide strings. UTF-7 (65000) and UTF-8
// (65001) are our own code; every other code page goes through iconv, mended where iconv parts
// from the page's published table (CP932, CP950, Mac Roman; CP1255 and CP1258 byte by byte).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace zip {

enum : std::uint32_t {
    CP_ACP = 0,    // the system ANSI code page
    CP_OEMCP = 1,  // the OEM code page
    CP_UTF7 = 65000,
    CP_UTF8 = 65001,
};

// The ANSI code page (Windows-1252 unless configured) and the OEM one (437 unless configured).
std::uint32_t DefaultSystemCodePage();
std::uint32_t OemCodePage();
void SetDefaultSystemCodePage(std::uint32_t codePage);
void SetOemCodePage(std::uint32_t codePage);

class EUniGeneralError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EUniInternalError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Characters the target code page lacks become "?"; byte sequences that are invalid in the source
// code page become U+FFFD. An unknown code page converts to an empty text.
std::u16string StringToWideStringEx(const std::string& s, std::uint32_t codePage);
std::string WideStringToStringEx(const std::u16string& w, std::uint32_t codePage);

// UTF-7 (RFC 2152) over buffers. Results: 0 done, 1 invalid input, 2 target full; written tells
// how much of the target was filled.
enum : int { utf7Ok = 0, utf7Invalid = 1, utf7TargetFull = 2 };
int ConvertWideToUTF7(std::span<const char16_t> source, std::span<char> target, std::size_t& written, bool verbose,
                      bool optionalDirect);
int ConvertUTF7ToWide(std::span<const char> source, std::span<char16_t> target, std::size_t& written);
// Raise EUniGeneralError "Invalid UTF7" / EUniInternalError "Buffer overflow".
std::string WideStringToUTF7(const std::u16string& w);
std::u16string UTF7ToWideString(const std::string& s);

// Swaps the two bytes of every character of the buffer (UTF-16BE to UTF-16LE), NULs included.
void SwapWideByteOrder(std::span<char16_t> text);

}  // namespace zip
