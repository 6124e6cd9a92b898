#define PCRE2_CODE_UNIT_WIDTH 8
#include "filters/PerlRegex.h"

#include <pcre2.h>

#include "core/Utf8.h"

#include <cstdint>
#include <memory>

namespace tarn {

namespace {

struct MatchDataDeleter {
    void operator()(pcre2_match_data* d) const { pcre2_match_data_free(d); }
};

// Only "matched or not" is asked, so one ovector pair serves every pattern; each thread
// keeps its own block so concurrent matches never share scratch space.
pcre2_match_data* threadMatchData() {
    thread_local std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
        pcre2_match_data_create(1, nullptr));
    return data.get();
}

std::string errorText(int code) {
    PCRE2_UCHAR buffer[256];
    const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (n < 0)
        return "error " + std::to_string(code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

} // namespace

PerlRegex::PerlRegex(std::string_view pattern) {
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    m_code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), 0,
                           &errorCode, &errorOffset, nullptr);
    if (!m_code) {
        m_error = errorText(errorCode);
        return;
    }
    // Without JIT support the interpreter is used; that is only slower.
    pcre2_jit_compile(m_code, PCRE2_JIT_COMPLETE);
    // Decoded subjects are UTF-8: there "." and classes must take whole characters. Old
    // records in other encodings still go through the byte pattern above.
    if (isValidUtf8(pattern)) {
        m_utfCode = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                  PCRE2_UTF | PCRE2_UCP, &errorCode, &errorOffset, nullptr);
        if (m_utfCode)
            pcre2_jit_compile(m_utfCode, PCRE2_JIT_COMPLETE);
    }
}

PerlRegex::~PerlRegex() {
    pcre2_code_free(m_code);
    pcre2_code_free(m_utfCode);
}

bool PerlRegex::matches(std::string_view subject) const {
    pcre2_match_data* data = threadMatchData();
    if (!data)
        return false;
    const auto* text = reinterpret_cast<PCRE2_SPTR>(subject.data());
    pcre2_code_8* code = m_code;
    std::uint32_t options = 0;
    if (m_utfCode && isValidUtf8(subject)) {
        code = m_utfCode;
        options = PCRE2_NO_UTF_CHECK; // just checked
    }
    int rc = pcre2_match(code, text, subject.size(), 0, options, data, nullptr);
    // The JIT's small default stack can run out where the interpreter would succeed.
    if (rc == PCRE2_ERROR_JIT_STACKLIMIT)
        rc = pcre2_match(code, text, subject.size(), 0, options | PCRE2_NO_JIT, data, nullptr);
    return rc >= 0;
}

} // namespace tarn
