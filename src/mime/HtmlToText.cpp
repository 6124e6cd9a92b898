#include "mime/HtmlToText.h"

#include "core/AsciiText.h"
#include "core/Utf8.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

namespace tarn {

namespace {

// Deeper than any real message nests; beyond it tags are dropped before parsing, since the
// parser searches its open elements for each end tag and each attribute among the tag's
// others: hostile depth or attribute counts would cost quadratic time.
constexpr int kMaxDepth = 1000;
constexpr long kMaxAttributes = 1000;

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Elements that never or only optionally enclose a following sibling: they cannot build a
// deep tree, so they do not count towards the depth.
bool opensNoLevel(std::string_view name) {
    // Called for every tag of the input: the name is lowered once and compared only with the
    // names of its length.
    char low[9];
    if (name.empty() || name.size() > 8)
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        low[i] = lowerAscii(name[i]);
    const std::string_view n(low, name.size());
    switch (n.size()) {
    case 1:
        return n == "p";
    case 2:
        return n == "br" || n == "hr" || n == "li" || n == "td" || n == "th" || n == "tr" ||
               n == "dt" || n == "dd" || n == "rb" || n == "rt" || n == "rp";
    case 3:
        return n == "col" || n == "img" || n == "wbr";
    case 4:
        return n == "area" || n == "base" || n == "link" || n == "meta";
    case 5:
        return n == "embed" || n == "input" || n == "param" || n == "track" || n == "thead" ||
               n == "tbody" || n == "tfoot";
    case 6:
        return n == "source" || n == "option";
    case 8:
        return n == "colgroup" || n == "optgroup";
    default:
        return false;
    }
}

// The HTML with every tag that would open a level beyond kMaxDepth left out (text stays).
// Returns the input unchanged (no copy) in the ordinary case.
std::string_view limitDepth(std::string_view html, std::string& storage) {
    int depth = 0;
    bool cut = false;
    std::size_t copied = 0;
    for (std::size_t i = html.find('<'); i != std::string_view::npos; i = html.find('<', i + 1)) {
        std::size_t j = i + 1;
        const bool closing = j < html.size() && html[j] == '/';
        if (closing)
            ++j;
        const std::size_t nameStart = j;
        while (j < html.size() && isNameChar(html[j]))
            ++j;
        if (j == nameStart)
            continue;
        const std::size_t end = html.find('>', j);
        if (end == std::string_view::npos)
            break;
        const std::string_view name = html.substr(nameStart, j - nameStart);
        // The parser compares each attribute with those before it: a tag with thousands of
        // them would take quadratic time, and no real message writes one.
        if (std::count(html.begin() + static_cast<long>(j), html.begin() + static_cast<long>(end),
                       '=') > kMaxAttributes) {
            if (!cut) {
                storage.reserve(html.size());
                cut = true;
            }
            storage.append(html.substr(copied, i - copied));
            copied = end + 1;
            i = end;
            continue;
        }
        if (closing) {
            if (!opensNoLevel(name) && depth > 0)
                --depth;
        } else if (!opensNoLevel(name) && html[end - 1] != '/') {
            if (depth >= kMaxDepth) {
                if (!cut) {
                    storage.reserve(html.size());
                    cut = true;
                }
                storage.append(html.substr(copied, i - copied));
                copied = end + 1;
            } else {
                ++depth;
            }
        }
        i = end;
    }
    if (!cut)
        return html;
    storage.append(html.substr(copied));
    return storage;
}

// Collects text with collapsed white space and requested line breaks.
class TextOut {
public:
    void text(std::string_view s) {
        const std::size_t n = s.size();
        std::size_t i = 0;
        while (i < n) {
            const char c = s[i];
            if (isBlank(c)) {
                m_space = true;
                ++i;
                continue;
            }
            // A no-break space is a blank that white space collapsing leaves alone.
            if (c == '\xC2' && i + 1 < n && s[i + 1] == '\xA0') {
                put(' ');
                i += 2;
                continue;
            }
            // A word goes out whole: per-character bookkeeping was most of this function's cost.
            std::size_t end = i + 1;
            while (end < n && !isBlank(s[end]) && s[end] != '\xC2')
                ++end;
            flushPending();
            m_out.append(s.data() + i, end - i);
            m_breaks = 0;
            i = end;
        }
    }
    void preText(std::string_view s) {
        for (char c : s) {
            if (c == '\r')
                continue;
            if (c == '\n') {
                m_out += "\r\n";
                m_lineStart = true;
                m_breaks = 1;
                m_space = false;
                continue;
            }
            flushPending();
            m_out.push_back(c);
            m_lineStart = false;
            m_breaks = 0;
        }
    }
    // At least n line breaks before the next text (1: a new line, 2: an empty line between).
    void breakLines(int n) {
        if (m_out.empty())
            return;
        if (n > m_wantBreaks)
            m_wantBreaks = n;
        m_space = false;
    }
    // An explicit line break (<br>): two in a row leave an empty line.
    void hardBreak() {
        if (m_out.empty())
            return;
        flushBreaks();
        m_out += "\r\n";
        ++m_breaks;
        m_lineStart = true;
        m_space = false;
    }
    // Text between two items on a line (table cells); nothing at the start of a line.
    void separator(std::string_view s) {
        if (m_lineStart || m_wantBreaks > 0)
            return;
        flushPending();
        m_out.append(s);
        m_space = false;
    }
    // Text that starts the next line (a bullet), after the indentation.
    void lineLead(std::string_view lead) {
        breakLines(1);
        flushBreaks();
        m_out.append(std::min(m_indentLevel, kMaxIndent), ' ');
        m_out.append(lead);
        m_lineStart = false;
        m_space = false;
    }
    // Levels beyond kMaxIndent stay at it, so that deep nesting cannot make every line long.
    void indent(int delta) { m_indentLevel += static_cast<std::size_t>(delta); }
    void unindent(int delta) {
        m_indentLevel -= std::min(m_indentLevel, static_cast<std::size_t>(delta));
    }
    void reserve(std::size_t bytes) { m_out.reserve(bytes); }
    bool atLineStart() const { return m_lineStart; }
    std::string take() { return std::move(m_out); }

private:
    static bool isBlank(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    }
    void flushBreaks() {
        if (m_wantBreaks > m_breaks && !m_out.empty()) {
            for (int k = m_breaks; k < m_wantBreaks; ++k)
                m_out += "\r\n";
            m_breaks = m_wantBreaks;
            m_lineStart = true;
        }
        m_wantBreaks = 0;
    }
    void flushPending() {
        flushBreaks();
        if (m_lineStart) {
            m_out.append(std::min(m_indentLevel, kMaxIndent), ' ');
            m_lineStart = false;
            m_space = false;
        } else if (m_space) {
            m_out.push_back(' ');
            m_space = false;
        }
    }
    void put(char c) {
        flushPending();
        m_out.push_back(c);
        m_breaks = 0;
    }

    std::string m_out;
    static constexpr std::size_t kMaxIndent = 20;
    std::size_t m_indentLevel = 0;
    int m_wantBreaks = 0;
    int m_breaks = 2; // nothing written yet: as after an empty line
    bool m_lineStart = true;
    bool m_space = false;
};

// The elements the conversion treats in a way of their own.
enum class Tag {
    Other,
    P,
    H,
    Blockquote,
    Pre,
    Table,
    Ul,
    Ol,
    Dl,
    Line,
    Li,
    Tr,
    Td,
    Br,
    Img,
    A,
    Dropped
};

Tag tagOf(std::string_view name) {
    struct Entry {
        std::string_view name;
        Tag tag;
    };
    static constexpr Entry kTags[] = {
        {"p", Tag::P},
        {"h1", Tag::H},
        {"h2", Tag::H},
        {"h3", Tag::H},
        {"h4", Tag::H},
        {"h5", Tag::H},
        {"h6", Tag::H},
        {"blockquote", Tag::Blockquote},
        {"pre", Tag::Pre},
        {"listing", Tag::Pre},
        {"xmp", Tag::Pre},
        {"table", Tag::Table},
        {"ul", Tag::Ul},
        {"ol", Tag::Ol},
        {"dl", Tag::Dl},
        {"li", Tag::Li},
        {"tr", Tag::Tr},
        {"td", Tag::Td},
        {"th", Tag::Td},
        {"br", Tag::Br},
        {"img", Tag::Img},
        {"a", Tag::A},
        {"script", Tag::Dropped},
        {"style", Tag::Dropped},
        {"head", Tag::Dropped},
        {"template", Tag::Dropped},
        {"noscript", Tag::Dropped},
        {"title", Tag::Dropped},
        {"div", Tag::Line},
        {"section", Tag::Line},
        {"article", Tag::Line},
        {"header", Tag::Line},
        {"footer", Tag::Line},
        {"nav", Tag::Line},
        {"aside", Tag::Line},
        {"main", Tag::Line},
        {"address", Tag::Line},
        {"center", Tag::Line},
        {"figure", Tag::Line},
        {"figcaption", Tag::Line},
        {"form", Tag::Line},
        {"fieldset", Tag::Line},
        {"dt", Tag::Line},
        {"dd", Tag::Line},
        {"caption", Tag::Line},
        {"hr", Tag::Line},
        {"body", Tag::Line},
    };
    // The parser gives names in lower case; most tags of a message are among the first
    // letters checked here, and a name is compared only with those of its first letter.
    if (name.empty())
        return Tag::Other;
    for (const Entry& e : kTags)
        if (e.name[0] == name[0] && e.name == name)
            return e.tag;
    return Tag::Other;
}

bool isParagraphBlock(Tag t) {
    switch (t) {
    case Tag::P:
    case Tag::H:
    case Tag::Blockquote:
    case Tag::Pre:
    case Tag::Table:
    case Tag::Ul:
    case Tag::Ol:
    case Tag::Dl:
        return true;
    default:
        return false;
    }
}

bool isLineBlock(Tag t) {
    return t == Tag::Line || t == Tag::Tr || t == Tag::Li;
}

const char* attribute(const xmlChar** attrs, const char* name) {
    if (!attrs)
        return nullptr;
    for (const xmlChar** a = attrs; a[0]; a += 2)
        if (std::strcmp(reinterpret_cast<const char*>(a[0]), name) == 0)
            return a[1] ? reinterpret_cast<const char*>(a[1]) : "";
    return nullptr;
}

std::string trimmed(std::string_view s) {
    std::size_t a = 0;
    std::size_t b = s.size();
    while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\n' || s[a] == '\r'))
        ++a;
    while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\n' || s[b - 1] == '\r'))
        --b;
    return std::string(s.substr(a, b - a));
}

// The text a link's content gave, for comparing it with the target.
std::string collapsed(std::string_view s) {
    std::string out;
    bool space = false;
    for (char c : s) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            space = !out.empty();
            continue;
        }
        if (space)
            out.push_back(' ');
        space = false;
        out.push_back(c);
    }
    return out;
}

// Turns the parser's stream of events into text; no tree is built, so memory stays with the
// text and the open elements.
class Converter {
public:
    void reserve(std::size_t bytes) { m_out.reserve(bytes); }
    static void onStart(void* self, const xmlChar* name, const xmlChar** attrs) {
        static_cast<Converter*>(self)->start(reinterpret_cast<const char*>(name), attrs);
    }
    static void onEnd(void* self, const xmlChar* name) {
        static_cast<Converter*>(self)->end(reinterpret_cast<const char*>(name));
    }
    static void onText(void* self, const xmlChar* text, int len) {
        static_cast<Converter*>(self)->text(
            std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(len)));
    }

    std::string take() { return m_out.take(); }

private:
    void text(std::string_view t) {
        if (m_dropped > 0)
            return;
        if (m_pre > 0)
            m_out.preText(t);
        else
            m_out.text(t);
        if (!m_links.empty())
            addLinkText(t);
    }

    void start(const char* name, const xmlChar** attrs) {
        const Tag t = tagOf(name);
        m_open.push_back(t);
        if (t == Tag::Dropped)
            ++m_dropped;
        if (m_dropped > 0)
            return;
        if (isParagraphBlock(t) && !isNestedList(t))
            m_out.breakLines(2);
        else if (isLineBlock(t) || isParagraphBlock(t))
            m_out.breakLines(1);
        switch (t) {
        case Tag::Br:
            m_out.hardBreak();
            break;
        case Tag::Img:
            if (const char* alt = attribute(attrs, "alt")) {
                m_out.text(" ");
                m_out.text(alt);
                m_out.text(" ");
                if (!m_links.empty())
                    addLinkText(alt);
            }
            break;
        case Tag::Pre:
            ++m_pre;
            break;
        case Tag::Ul:
        case Tag::Ol:
            m_lists.push_back(t == Tag::Ol ? 1 : 0);
            if (m_lists.size() > 1)
                m_out.indent(2);
            break;
        case Tag::Li: {
            std::string lead = "\xE2\x80\xA2 ";
            if (!m_lists.empty() && m_lists.back() > 0)
                lead = std::to_string(m_lists.back()++) + ". ";
            m_out.lineLead(lead);
            break;
        }
        case Tag::Td:
            m_out.separator("\t");
            break;
        case Tag::A: {
            const char* href = attribute(attrs, "href");
            m_links.push_back({href ? trimmed(href) : std::string(), {}});
            break;
        }
        default:
            break;
        }
    }

    void end(const char*) {
        // The parser closes what it opened, innermost first, so the end belongs to the
        // element opened last.
        if (m_open.empty())
            return;
        const Tag t = m_open.back();
        m_open.pop_back();
        if (t == Tag::Dropped) {
            --m_dropped;
            return;
        }
        if (m_dropped > 0)
            return;
        switch (t) {
        case Tag::Pre:
            --m_pre;
            break;
        case Tag::Ul:
        case Tag::Ol:
            if (m_lists.size() > 1)
                m_out.unindent(2);
            if (!m_lists.empty())
                m_lists.pop_back();
            break;
        case Tag::A: {
            if (m_links.empty())
                break;
            Link link = std::move(m_links.back());
            m_links.pop_back();
            if (!m_links.empty())
                addLinkText(link.text);
            std::string target = link.href;
            if (startsWithNoCase(target, "mailto:"))
                target.erase(0, 7);
            if (!link.href.empty() && link.href[0] != '#' &&
                !startsWithNoCase(link.href, "javascript:") && collapsed(link.text) != target &&
                collapsed(link.text) != link.href) {
                m_out.text(" ");
                m_out.text("<" + link.href + ">");
            }
            break;
        }
        default:
            break;
        }
        if (isParagraphBlock(t) && !isNestedList(t))
            m_out.breakLines(2);
        else if (isLineBlock(t) || isParagraphBlock(t))
            m_out.breakLines(1);
    }

    // A list inside a list item continues the outer list without an empty line.
    bool isNestedList(Tag t) const {
        // Checked before entering pushes and after leaving pops the list itself.
        return (t == Tag::Ul || t == Tag::Ol) && !m_lists.empty();
    }

    // Only compared with the target, so a little more than any address is enough; the cap
    // keeps nested links from copying their text once per level.
    void addLinkText(std::string_view text) {
        std::string& t = m_links.back().text;
        if (t.size() < kMaxLinkText)
            t.append(text.substr(0, kMaxLinkText - t.size()));
    }
    static constexpr std::size_t kMaxLinkText = 4096;

    struct Link {
        std::string href;
        std::string text;
    };

    TextOut m_out;
    std::vector<Tag> m_open;
    int m_dropped = 0;
    int m_pre = 0;
    std::vector<int> m_lists; // 0 bullets, else the next number
    std::vector<Link> m_links;
};

// The parser reads its input up to a NUL; one inside a message part is dropped.
std::string_view withoutNul(std::string_view html, std::string& storage) {
    if (html.find('\0') == std::string_view::npos)
        return html;
    storage.reserve(html.size());
    for (char c : html)
        if (c != '\0')
            storage.push_back(c);
    return storage;
}

} // namespace

std::string htmlToText(std::string_view html) {
    std::string utf8;
    if (!isValidUtf8(html)) {
        utf8 = bytesToUtf8(html);
        html = utf8;
    }
    std::string noNul;
    html = withoutNul(html, noNul);
    std::string limited;
    html = limitDepth(html, limited);

    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    Converter converter;
    // The text is rarely more than half the markup; growing by doubling copied it repeatedly.
    converter.reserve(html.size() / 2);
    htmlSAXHandler sax{};
    sax.startElement = Converter::onStart;
    sax.endElement = Converter::onEnd;
    sax.characters = Converter::onText;
    sax.ignorableWhitespace = Converter::onText;
    sax.cdataBlock = Converter::onText; // script and style, dropped by the converter
    htmlParserCtxtPtr ctxt =
        htmlCreatePushParserCtxt(&sax, &converter, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8);
    if (!ctxt)
        return {};
    // No network, no error output; the input is UTF-8 whatever a <meta> claims.
    htmlCtxtUseOptions(ctxt, HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                 HTML_PARSE_IGNORE_ENC);
    // In pieces, so that input of any size fits the parser's int lengths.
    constexpr std::size_t kPiece = 1 << 20;
    const std::size_t size = !html.empty() && html.back() == '<' ? html.size() - 1 : html.size();
    for (std::size_t at = 0; at < size; at += kPiece) {
        const std::size_t n = std::min(kPiece, size - at);
        htmlParseChunk(ctxt, html.data() + at, static_cast<int>(n), 0);
    }
    // A '<' that the input ends with opens no tag: it is text, as browsers show it.
    if (!html.empty() && html.back() == '<')
        htmlParseChunk(ctxt, "&lt;", 4, 0);
    htmlParseChunk(ctxt, nullptr, 0, 1);
    htmlFreeParserCtxt(ctxt);
    return converter.take();
}

} // namespace tarn
