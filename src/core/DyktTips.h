#pragma once

#include <cstddef>
#include <string>

namespace tarn {

// The tips file (dykt.ini, section DYKT_DATA: "Count" and the tips "1", "2", ...) and the walk
// through its tips. The count is read once; each tip is read from the file afresh when it is
// shown, so an edited tip shows without a restart. The file is only read, and only its first
// megabyte: a tips file is a few kilobytes, and a huge or binary one must not stall the window.
class DyktTips {
public:
    static constexpr std::size_t kMaxFileBytes = 1 << 20;
    static constexpr const char* Section = "DYKT_DATA";
    static constexpr const char* DefaultTextTail =
        " will give you all the additional information you need about Tarnwick";

    DyktTips(std::string path, std::string homePage);

    int count() const { return m_count; }
    int tipNumber() const { return m_number; }
    // Steps to the next tip (after the last comes tip 1; with no tips always tip 1) and
    // returns its text, or the default text when the file has no such key.
    std::string next();
    // The default text: the home page address and DefaultTextTail.
    std::string defaultText() const;

private:
    std::string m_path;
    std::string m_homePage;
    int m_count = 0;
    int m_number = 0;
};

} // namespace tarn
