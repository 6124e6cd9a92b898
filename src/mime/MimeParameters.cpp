#include "mime/MimeParameters.h"

#include "core/AsciiText.h"
#include "mime/Charset.h"
#include "mime/EncodedWordDecoder.h"

#include <map>
#include <optional>

namespace tarn {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = lowerAscii(c);
    return out;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (isSpaceOrTab(s.front()) || s.front() == '\r' || s.front() == '\n'))
        s.remove_prefix(1);
    while (!s.empty() && (isSpaceOrTab(s.back()) || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

// Calls f(key, value) for each "key=value" after the first ";", quotes removed.
template <typename F> void eachParameter(std::string_view v, F&& f) {
    std::size_t i = v.find(';');
    while (i != std::string_view::npos && i < v.size()) {
        ++i;
        const std::size_t eq = v.find('=', i);
        if (eq == std::string_view::npos)
            return;
        const std::string_view key = trimmed(v.substr(i, eq - i));
        std::size_t j = eq + 1;
        while (j < v.size() && isSpaceOrTab(v[j]))
            ++j;
        std::string value;
        if (j < v.size() && v[j] == '"') {
            ++j;
            while (j < v.size() && v[j] != '"') {
                if (v[j] == '\\' && j + 1 < v.size())
                    ++j;
                value.push_back(v[j++]);
            }
            i = v.find(';', j);
        } else {
            const std::size_t end = v.find(';', j);
            value = std::string(
                trimmed(v.substr(j, end == std::string_view::npos ? v.size() - j : end - j)));
            i = end;
        }
        f(lower(key), std::move(value));
    }
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%') {
            const int hi = i + 1 < s.size() ? hexDigitValue(s[i + 1]) : -1;
            const int lo = i + 2 < s.size() ? hexDigitValue(s[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(s[i]);
    }
    return out;
}

} // namespace

std::string mediaType(std::string_view contentType) {
    return lower(trimmed(contentType.substr(0, contentType.find(';'))));
}

std::string mimeParameter(std::string_view value, std::string_view name) {
    const std::string want = lower(name);
    std::optional<std::string> plain;
    std::optional<std::string> extended;
    std::map<int, std::pair<bool, std::string>> pieces; // number -> (encoded, text)
    eachParameter(value, [&](const std::string& key, std::string v) {
        if (key == want) {
            if (!plain)
                plain = std::move(v);
        } else if (key == want + "*") {
            if (!extended)
                extended = std::move(v);
        } else if (key.size() > want.size() + 1 && key.compare(0, want.size(), want) == 0 &&
                   key[want.size()] == '*') {
            std::string_view rest = std::string_view(key).substr(want.size() + 1);
            const bool encoded = !rest.empty() && rest.back() == '*';
            if (encoded)
                rest.remove_suffix(1);
            if (rest.empty() || rest.size() > 3)
                return;
            int n = 0;
            for (char c : rest) {
                if (c < '0' || c > '9')
                    return;
                n = n * 10 + (c - '0');
            }
            pieces.emplace(n, std::make_pair(encoded, std::move(v)));
        }
    });
    // RFC 2231: charset'language'text, the text percent-encoded.
    const auto extendedText = [](std::string_view v, bool first, std::string& charset) {
        if (first) {
            const std::size_t q1 = v.find('\'');
            const std::size_t q2 = q1 == std::string_view::npos ? q1 : v.find('\'', q1 + 1);
            if (q2 != std::string_view::npos) {
                charset = std::string(v.substr(0, q1));
                v = v.substr(q2 + 1);
            }
        }
        return percentDecoded(v);
    };
    std::string charset;
    std::string bytes;
    bool haveBytes = false;
    if (extended) {
        bytes = extendedText(*extended, true, charset);
        haveBytes = true;
    } else if (!pieces.empty() && pieces.begin()->first == 0) {
        int next = 0;
        for (const auto& [n, piece] : pieces) {
            if (n != next++)
                break;
            bytes += piece.first ? extendedText(piece.second, n == 0, charset) : piece.second;
        }
        haveBytes = true;
    }
    if (haveBytes) {
        if (!charset.empty())
            if (std::optional<std::string> text = Charset::toUtf8(charset, bytes))
                return *text;
        return EncodedWordDecoder::decode(bytes);
    }
    return plain ? EncodedWordDecoder::decode(*plain) : std::string();
}

} // namespace tarn
