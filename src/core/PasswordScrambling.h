#pragma once

#include <string>
#include <string_view>

namespace tarn {

// Byte i (1-based) of the scrambled text is (plain byte i + i) mod 256; the lengths are equal.
std::string ScramblePassword(std::string_view plain);
// The inverse: plain byte i is (scrambled byte i - i) mod 256.
std::string UnscramblePassword(std::string_view scrambled);

// A scrambled password can hold bytes a profile file cannot keep (CR, LF, NUL, or blanks at
// either end, which the reader trims). Such a password is stored as kEscapedPasswordPrefix
// followed by the scrambled bytes in upper-case hexadecimal. The prefix "!!" cannot start the
// scrambled form of a printable password (its second byte would need plain byte 0x1F), so
// printable passwords are stored exactly as scrambled. A scrambled text that happens to start
// with the prefix is escaped too, which keeps the stored form unambiguous.
inline constexpr std::string_view kEscapedPasswordPrefix = "!!";

// The value written for the key Password.
std::string storedPasswordText(std::string_view plain);
// The plain password from the key's value. An escaped value whose hex part is damaged is taken
// as a plain scrambled text, as older files would hold it.
std::string passwordFromStoredText(std::string_view stored);

} // namespace tarn
