#include "mime/Charset.h"

#include "core/AsciiText.h"
#include "core/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <unordered_map>

namespace tarn {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// The upper-cased name, without a language suffix, mapped to the superset mailers really
// write when they label a message with the smaller set.
std::string canonicalName(std::string_view charset) {
    const std::size_t star = charset.find('*');
    if (star != std::string_view::npos)
        charset = charset.substr(0, star);
    charset = trimSpaceTab(charset);
    std::string name;
    name.reserve(charset.size());
    for (char c : charset)
        name.push_back(upperAscii(c));
    if (name == "ISO-8859-1" || name == "LATIN1" || name == "ISO8859-1" || name == "US-ASCII" ||
        name == "ASCII")
        return "WINDOWS-1252";
    if (name == "GB2312" || name == "GBK" || name == "X-GBK")
        return "GB18030";
    if (name == "KS_C_5601-1987" || name == "EUC-KR")
        return "CP949";
    if (name == "SHIFT_JIS" || name == "X-SJIS" || name == "SJIS")
        return "CP932";
    if (name == "BIG5")
        return "BIG5-HKSCS";
    return name;
}

// Converters of this thread, by canonical name; an unknown name is remembered as unknown.
class ConverterCache {
public:
    ~ConverterCache() {
        for (auto& [name, cd] : m_open)
            if (cd != kNoConverter)
                iconv_close(cd);
    }

    iconv_t get(const std::string& name) {
        const auto it = m_open.find(name);
        if (it != m_open.end()) {
            iconv(it->second, nullptr, nullptr, nullptr, nullptr); // back to the initial state
            return it->second;
        }
        // A hostile message could name endless charsets; only so many stay open.
        if (m_open.size() >= kMaxOpen) {
            for (auto& [n, cd] : m_open)
                if (cd != kNoConverter)
                    iconv_close(cd);
            m_open.clear();
        }
        const iconv_t cd = iconv_open("UTF-8", name.c_str());
        m_open.emplace(name, cd);
        return cd;
    }

private:
    static constexpr std::size_t kMaxOpen = 64;
    std::unordered_map<std::string, iconv_t> m_open;
};

ConverterCache& cache() {
    thread_local ConverterCache c;
    return c;
}

// The text with every byte that is not part of a well-formed character replaced by U+FFFD.
std::string validUtf8(std::string_view bytes) {
    if (isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const Utf8Step step = utf8StepAt(bytes, i);
        if (step.valid)
            out.append(bytes.substr(i, step.length));
        else
            out += "\xEF\xBF\xBD";
        i += step.length;
    }
    return out;
}

bool knownCharset(const std::string& name) {
    return cache().get(name) != kNoConverter;
}

} // namespace

bool Charset::isUtf8OrAscii(std::string_view charset) {
    const std::string name = canonicalName(charset);
    return name == "UTF-8" || name == "UTF8";
}

std::optional<std::string> Charset::toUtf8(std::string_view charset, std::string_view bytes) {
    const std::string name = canonicalName(charset);
    if (name.empty())
        return std::nullopt;
    // Most text is plain ASCII, which reads the same in every charset that is not stateful
    // or wide; it needs no converter.
    const bool ascii = std::all_of(bytes.begin(), bytes.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    const bool asciiCompatible =
        name.compare(0, 8, "ISO-2022") != 0 && name.compare(0, 5, "UTF-1") != 0 &&
        name.compare(0, 5, "UTF-3") != 0 && name.compare(0, 5, "UTF-7") != 0 &&
        name.compare(0, 3, "UCS") != 0 && name.compare(0, 2, "HZ") != 0;
    if (ascii && asciiCompatible && (name == "UTF-8" || name == "UTF8" || knownCharset(name)))
        return std::string(bytes);
    if (name == "WINDOWS-1252") {
        std::string out;
        out.reserve(bytes.size() + bytes.size() / 4);
        for (char c : bytes)
            appendUtf8(out, windows1252ToUnicode(static_cast<unsigned char>(c)));
        return out;
    }
    if (name == "UTF-8" || name == "UTF8")
        return validUtf8(bytes);
    const iconv_t cd = cache().get(name);
    if (cd == kNoConverter)
        return std::nullopt;
    std::string out;
    out.resize(bytes.size() * 2 + 16);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t used = 0;
    for (;;) {
        char* dst = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t rc = iconv(cd, inLeft ? &in : nullptr, &inLeft, &dst, &outLeft);
        used = out.size() - outLeft;
        if (rc != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) {
                // Flush a stateful converter (ISO-2022-JP) back to its initial state.
                dst = out.data() + used;
                outLeft = out.size() - used;
                iconv(cd, nullptr, nullptr, &dst, &outLeft);
                used = out.size() - outLeft;
                break;
            }
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or a sequence cut off at the end (EINVAL): one replacement, skip one byte.
        if (out.size() - used < 3)
            out.resize(out.size() * 2);
        out.replace(used, 3, "\xEF\xBF\xBD");
        used += 3;
        ++in;
        --inLeft;
        if (inLeft == 0)
            break;
    }
    out.resize(used);
    // Wide charsets can name values beyond Unicode, which the converter writes out as they are.
    if (!isValidUtf8(out))
        return validUtf8(out);
    return out;
}

} // namespace tarn
