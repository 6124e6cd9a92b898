#pragma once

#include <string>
#include <string_view>

namespace tarn {

// What the message window shows for a stored body: HTML parts turned into plain text when
// ConvertHTML is on, then lines wrapped at 80 columns when WrapText is on. With both off the
// body comes back byte for byte. Runs in time linear in the body's size, whatever it holds.
std::string ConvertMessageText(std::string_view body, bool ConvertHTML, bool WrapText);

// The two steps on their own.
std::string convertHtmlParts(std::string_view body);
std::string wrapLines(std::string_view text);

} // namespace tarn
