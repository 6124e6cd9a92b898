#pragma once

#include <string>
#include <string_view>

struct pcre2_real_code_8;

namespace tarn {

// One Perl-compatible pattern compiled once with default options (case-sensitive, "." stops
// at line ends, "^"/"$" at the ends of the subject) and JIT-compiled where the library can.
// A compiled pattern is immutable: matches from several threads at once are safe.
// A pattern that does not compile keeps the library's message instead of throwing, so the
// failure surfaces only where the pattern is used.
class PerlRegex {
public:
    explicit PerlRegex(std::string_view pattern);
    ~PerlRegex();
    PerlRegex(const PerlRegex&) = delete;
    PerlRegex& operator=(const PerlRegex&) = delete;

    bool valid() const { return m_code != nullptr; }
    // The library's compile error; empty when the pattern compiled.
    const std::string& error() const { return m_error; }

    // True when the pattern matches somewhere in subject. A subject that is valid UTF-8 is
    // matched character by character (UTF and Unicode properties), any other byte by byte. Must
    // only be called on a valid pattern. A match that the library gives up on (resource limits)
    // counts as no match.
    bool matches(std::string_view subject) const;

private:
    pcre2_real_code_8* m_code = nullptr;
    pcre2_real_code_8* m_utfCode = nullptr; // null when the pattern is not valid UTF-8
    std::string m_error;
};

} // namespace tarn
