// UTF-16 text helpers shared by the file layer and the string lists: UTF-8 conversion, case
// mapping and character classes (Unicode rules of the C.UTF-8 locale, whatever the user's locale).
#pragma once

#include <string>

namespace zip {

// Standard UTF-8; unpaired surrogates and malformed bytes become U+FFFD.
std::string UTF8EncodeWide(const std::u16string& w);
std::u16string UTF8DecodeWide(const std::string& s);

// Simple one-to-one case mapping of every BMP character; surrogates are kept, so the length never
// changes (the replace and mask routines rely on that).
char16_t WideCharUpper(char16_t c);
char16_t WideCharLower(char16_t c);
std::u16string ZipWideUpperCase(const std::u16string& s);
std::u16string ZipWideLowerCase(const std::u16string& s);

bool WideCharIsSpace(char16_t c);
bool WideCharIsPunct(char16_t c);

// ASCII texts typed in code, as wide strings.
std::u16string WideFromAscii(const char* s);

}  // namespace zip
