#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarn {

// Bytes as received are UTF-8 when they can be; anything else is taken byte by byte.

// One step through bytes: a whole UTF-8 character when one starts at the position (shortest
// form, no surrogate, at most U+10FFFF), otherwise a single byte.
struct Utf8Step {
    std::size_t length = 1; // bytes
    char32_t codePoint = 0; // the character, or the byte itself when !valid
    bool valid = false;     // a well-formed character (ASCII included)
};

Utf8Step utf8StepAt(std::string_view s, std::size_t i);

bool isValidUtf8(std::string_view s);

// Columns a character takes in a fixed-width font: 2 for East Asian wide and full-width
// characters, 1 otherwise.
int columnWidth(char32_t codePoint);

// The character a Windows-1252 byte stands for. The five bytes the code page leaves undefined
// stand for the C1 control characters of the same number, so no byte is lost.
char32_t windows1252ToUnicode(unsigned char byte);

// Valid UTF-8 unchanged; anything else read as Windows-1252 and written as UTF-8.
std::string bytesToUtf8(std::string_view bytes);

// Appends code point c (at most U+10FFFF) encoded as UTF-8.
void appendUtf8(std::string& out, char32_t c);

} // namespace tarn
