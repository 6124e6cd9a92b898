#include "filters/CompiledFilter.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "filters/PerlRegex.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace tarn {

namespace {

enum Condition {
    SenderContains = 0,
    SenderNotContains = 1,
    SubjectIs = 2,
    SubjectContains = 3,
    SubjectNotContains = 4,
    SizeSmaller = 5,
    SizeLarger = 6,
    OlderThan = 7,
    SpamSuspected = 8,
    HeaderRegex = 9,
    BodyRegex = 10,
};

const std::string kEmpty;

const std::string& textOf(const std::optional<std::string>& field) {
    return field ? *field : kEmpty;
}

// An empty needle is contained in nothing.
bool contains(const std::string& haystack, const std::string& needle) {
    return !needle.empty() && haystack.find(needle) != std::string::npos;
}

// Lines end at CR, LF or CR LF; a final line break does not open another line, and empty
// text has no lines at all. The next CR and the next LF are tracked separately so that
// each is searched for with memchr only once per occurrence.
template <typename F> bool anyLine(std::string_view text, F&& test) {
    const char* p = text.data();
    const char* const end = p + text.size();
    auto next = [end](const char* from, char c) {
        const void* hit = std::memchr(from, c, static_cast<size_t>(end - from));
        return hit ? static_cast<const char*>(hit) : end;
    };
    const char* cr = next(p, '\r');
    const char* lf = next(p, '\n');
    while (p < end) {
        const char* stop = cr < lf ? cr : lf;
        if (test(std::string_view(p, static_cast<size_t>(stop - p))))
            return true;
        if (stop == end)
            return false;
        p = stop + 1;
        if (*stop == '\r' && p < end && *p == '\n')
            ++p;
        if (cr < p)
            cr = p < end ? next(p, '\r') : end;
        if (lf < p)
            lf = p < end ? next(p, '\n') : end;
    }
    return false;
}

} // namespace

int strToInt(const std::string& text) {
    const std::optional<std::int64_t> v =
        parseSignedDecimal(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (!v)
        throw TarnError("'" + text + "' is not a valid integer value");
    return static_cast<int>(*v);
}

bool looksLikeSpam(const std::string& subject) {
    return subject.find("      ") != std::string::npos ||
           subject.find(" FREE ") != std::string::npos ||
           subject.find(".......") != std::string::npos;
}

CompiledFilter::CompiledFilter(TFilter filter) : m_filter(std::move(filter)) {
    switch (m_filter.IfCondition) {
    case SizeSmaller:
    case SizeLarger:
    case OlderThan:
        try {
            m_number = strToInt(m_filter.Argument);
        } catch (const TarnError& e) {
            m_numberError = e.what();
        }
        break;
    case HeaderRegex:
    case BodyRegex:
        m_regex = std::make_unique<PerlRegex>(m_filter.Argument);
        break;
    default:
        break;
    }
}

CompiledFilter::~CompiledFilter() = default;
CompiledFilter::CompiledFilter(CompiledFilter&&) noexcept = default;
CompiledFilter& CompiledFilter::operator=(CompiledFilter&&) noexcept = default;

bool CompiledFilter::appliesTo(const MailRecord& record) const {
    // -1 (and any other negative number) names no account.
    if (!m_filter.Active || m_filter.Account < 0)
        return false;
    if (m_filter.Account == 0)
        return true;
    return m_filter.Account == record.Account.value_or(0);
}

long long CompiledFilter::number() const {
    if (!m_number)
        throw TarnError(m_numberError);
    return *m_number;
}

bool CompiledFilter::holds(const MailRecord& record, double today) const {
    const std::string& arg = m_filter.Argument;
    switch (m_filter.IfCondition) {
    case SenderContains:
        return contains(textOf(record.Sender), arg);
    case SenderNotContains:
        return !contains(textOf(record.Sender), arg);
    case SubjectIs:
        return textOf(record.Subject) == arg;
    case SubjectContains:
        return contains(textOf(record.Subject), arg);
    case SubjectNotContains:
        return !contains(textOf(record.Subject), arg);
    case SizeSmaller:
        return record.Size.value_or(0) < number() * 1024;
    case SizeLarger:
        // One kilobyte of grace above the limit.
        return record.Size.value_or(0) > number() * 1024 + 1024;
    case OlderThan: {
        const long long n = number();
        const double date = record.Date.value_or(0.0);
        if (!(date >= 1000.0))
            return false;
        return std::trunc(std::fabs(today - date)) >= static_cast<double>(n);
    }
    case SpamSuspected:
        return looksLikeSpam(textOf(record.Subject));
    case HeaderRegex:
    case BodyRegex: {
        if (!m_regex->valid())
            throw TarnError("Perlre: " + m_regex->error());
        const std::string& text =
            textOf(m_filter.IfCondition == HeaderRegex ? record.Header : record.Body);
        return anyLine(text, [this](std::string_view line) { return m_regex->matches(line); });
    }
    default:
        return false;
    }
}

} // namespace tarn
