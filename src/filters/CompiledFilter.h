#pragma once

#include "core/TFilter.h"
#include "store/MailRecord.h"

#include <memory>
#include <optional>
#include <string>

namespace tarn {

class PerlRegex;

// One filter rule with the parts of its Argument that can be prepared once: the number of
// the size and age conditions and the compiled pattern of the two regex conditions. A bad
// Argument is kept as an error and raised only when the condition is tested.
class CompiledFilter {
public:
    explicit CompiledFilter(TFilter filter);
    ~CompiledFilter();
    CompiledFilter(CompiledFilter&&) noexcept;
    CompiledFilter& operator=(CompiledFilter&&) noexcept;

    const TFilter& filter() const { return m_filter; }

    // Active, and meant for the record's account (Account 0 = any, -1 = none).
    bool appliesTo(const MailRecord& record) const;

    // Tests the condition on the record; today is local midnight as a date value. A
    // condition outside 0..10 never holds. Throws TarnError when the Argument is not a
    // decimal integer (size and age) or not a pattern that compiles (regex conditions).
    bool holds(const MailRecord& record, double today) const;

private:
    long long number() const;

    TFilter m_filter;
    std::optional<long long> m_number;
    std::string m_numberError;
    std::unique_ptr<PerlRegex> m_regex;
};

// Reads text as a 32-bit decimal integer (optional sign, digits, nothing else); anything else
// throws TarnError "'text' is not a valid integer value".
int strToInt(const std::string& text);

// The subject test of the "spam mail is suspected" condition.
bool looksLikeSpam(const std::string& subject);

} // namespace tarn
