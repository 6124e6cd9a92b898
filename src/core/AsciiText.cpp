#include "core/AsciiText.h"

namespace tarn {

std::string upperAsciiCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = upperAscii(c);
    return out;
}

std::string lowerAsciiCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i]))
            return false;
    return true;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view trimLeftSpaceTab(std::string_view s) {
    while (!s.empty() && isSpaceOrTab(s.front()))
        s.remove_prefix(1);
    return s;
}

std::string_view trimSpaceTab(std::string_view s) {
    s = trimLeftSpaceTab(s);
    while (!s.empty() && isSpaceOrTab(s.back()))
        s.remove_suffix(1);
    return s;
}

} // namespace tarn
