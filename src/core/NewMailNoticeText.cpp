#include "core/NewMailNoticeText.h"

#include "core/Utf8.h"

namespace tarn {

namespace {

const char* const kEllipsis = "\xE2\x80\xA6"; // …

bool isControl(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

} // namespace

std::string noticeLine(std::string_view bytes, std::size_t maxChars) {
    const std::string text = bytesToUtf8(bytes);
    std::string out;
    std::size_t chars = 0;
    bool blank = true; // runs of blanks become one, none at the start
    for (std::size_t i = 0; i < text.size();) {
        const Utf8Step step = utf8StepAt(text, i);
        i += step.length;
        char32_t c = step.valid ? step.codePoint : 0xFFFD;
        if (isControl(c) || c == ' ')
            c = ' ';
        if (c == ' ') {
            if (blank)
                continue;
            blank = true;
        } else {
            blank = false;
        }
        if (chars == maxChars) {
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            out += kEllipsis;
            return out;
        }
        appendUtf8(out, c);
        ++chars;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string escapeNoticeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string newMailCountText(long long count) {
    return std::to_string(count) + (count == 1 ? " new Mail" : " new Mails");
}

NewMailNoticeText composeNewMailNotice(std::string_view accountName, long long count,
                                       const std::vector<NoticeMessage>& messages) {
    NewMailNoticeText t;
    t.summary = newMailCountText(count);
    const std::string name = noticeLine(accountName, kNoticeMaxLineChars);
    if (!name.empty())
        t.summary += " - " + name;
    const std::size_t first =
        messages.size() > kNoticeMaxLines ? messages.size() - kNoticeMaxLines : 0;
    for (std::size_t k = first; k < messages.size(); ++k) {
        const std::string sender = noticeLine(messages[k].sender, kNoticeMaxSenderChars);
        // Each part is read on its own: one part's bytes say nothing of the other's.
        const std::string line =
            noticeLine(sender + ": " + noticeLine(messages[k].subject, kNoticeMaxLineChars),
                       kNoticeMaxLineChars);
        if (!t.body.empty())
            t.body += '\n';
        t.body += escapeNoticeMarkup(line);
    }
    return t;
}

} // namespace tarn
