#include "mime/HtmlToText.h"

#include "core/AsciiText.h"
#include "core/Utf8.h"

#include <gumbo.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarn {

namespace {

// Deeper than any real message nests; beyond it tags are dropped before parsing, since the
// parser's own tree walks recurse.
constexpr int kMaxDepth = 1000;
constexpr long kMaxAttributes = 1000;

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
}

// Elements that never or only optionally enclose a following sibling: they cannot build a
// deep tree, so they do not count towards the depth.
bool opensNoLevel(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "area",  "base",     "br",       "col",    "embed", "hr",  "img",   "input",
        "link",  "meta",     "param",    "source", "track", "wbr", "p",     "li",
        "td",    "th",       "tr",       "option", "dt",    "dd",  "thead", "tbody",
        "tfoot", "colgroup", "optgroup", "rb",     "rt",    "rp"};
    for (std::string_view n : kNames)
        if (equalsNoCase(name, n))
            return true;
    return false;
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
        for (std::size_t i = 0; i < s.size(); ++i) {
            const char c = s[i];
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                m_space = true;
                continue;
            }
            // A no-break space is a blank that white space collapsing leaves alone.
            if (c == '\xC2' && i + 1 < s.size() && s[i + 1] == '\xA0') {
                put(' ');
                ++i;
                continue;
            }
            put(c);
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
    bool atLineStart() const { return m_lineStart; }
    std::string take() { return std::move(m_out); }

private:
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

bool isParagraphBlock(GumboTag t) {
    switch (t) {
    case GUMBO_TAG_P:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_UL:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_DL:
        return true;
    default:
        return false;
    }
}

bool isLineBlock(GumboTag t) {
    switch (t) {
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_LI:
        return true;
    default:
        return false;
    }
}

bool isDropped(GumboTag t) {
    return t == GUMBO_TAG_SCRIPT || t == GUMBO_TAG_STYLE || t == GUMBO_TAG_HEAD ||
           t == GUMBO_TAG_TEMPLATE || t == GUMBO_TAG_NOSCRIPT || t == GUMBO_TAG_TITLE;
}

const char* attribute(const GumboElement& e, const char* name) {
    const GumboAttribute* a = gumbo_get_attribute(&e.attributes, name);
    return a ? a->value : nullptr;
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

class Walker {
public:
    std::string run(const GumboNode* root) {
        struct Frame {
            const GumboNode* node;
            unsigned next;
        };
        std::vector<Frame> stack;
        if (enter(root))
            stack.push_back({root, 0});
        while (!stack.empty()) {
            Frame& f = stack.back();
            const GumboVector* children = childrenOf(f.node);
            if (!children || f.next >= children->length) {
                const GumboNode* done = f.node;
                stack.pop_back();
                leave(done);
                continue;
            }
            const auto* child = static_cast<const GumboNode*>(children->data[f.next++]);
            if (enter(child))
                stack.push_back({child, 0});
        }
        return m_out.take();
    }

private:
    static const GumboVector* childrenOf(const GumboNode* n) {
        if (n->type == GUMBO_NODE_DOCUMENT)
            return &n->v.document.children;
        if (n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE)
            return &n->v.element.children;
        return nullptr;
    }

    // Handles the start of a node; true when its children are to be visited.
    bool enter(const GumboNode* n) {
        switch (n->type) {
        case GUMBO_NODE_DOCUMENT:
            return true;
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_CDATA:
        case GUMBO_NODE_WHITESPACE:
            if (m_pre > 0)
                m_out.preText(n->v.text.text);
            else
                m_out.text(n->v.text.text);
            if (!m_links.empty())
                addLinkText(n->v.text.text);
            return false;
        case GUMBO_NODE_COMMENT:
            return false;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE:
            break;
        }
        const GumboElement& e = n->v.element;
        const GumboTag t = e.tag;
        if (isDropped(t))
            return false;
        if (isParagraphBlock(t) && !isNestedList(t))
            m_out.breakLines(2);
        else if (isLineBlock(t) || isParagraphBlock(t))
            m_out.breakLines(1);
        switch (t) {
        case GUMBO_TAG_BR:
            m_out.hardBreak();
            return false;
        case GUMBO_TAG_IMG:
            if (const char* alt = attribute(e, "alt")) {
                m_out.text(" ");
                m_out.text(alt);
                m_out.text(" ");
                if (!m_links.empty())
                    addLinkText(alt);
            }
            return false;
        case GUMBO_TAG_PRE:
            ++m_pre;
            break;
        case GUMBO_TAG_UL:
        case GUMBO_TAG_OL:
            m_lists.push_back(t == GUMBO_TAG_OL ? 1 : 0);
            if (m_lists.size() > 1)
                m_out.indent(2);
            break;
        case GUMBO_TAG_LI: {
            std::string lead = "\xE2\x80\xA2 ";
            if (!m_lists.empty() && m_lists.back() > 0)
                lead = std::to_string(m_lists.back()++) + ". ";
            m_out.lineLead(lead);
            break;
        }
        case GUMBO_TAG_TD:
        case GUMBO_TAG_TH:
            m_out.separator("\t");
            break;
        case GUMBO_TAG_A: {
            const char* href = attribute(e, "href");
            m_links.push_back({href ? trimmed(href) : std::string(), {}});
            break;
        }
        default:
            break;
        }
        return true;
    }

    void leave(const GumboNode* n) {
        if (n->type != GUMBO_NODE_ELEMENT && n->type != GUMBO_NODE_TEMPLATE)
            return;
        const GumboTag t = n->v.element.tag;
        switch (t) {
        case GUMBO_TAG_PRE:
            --m_pre;
            break;
        case GUMBO_TAG_UL:
        case GUMBO_TAG_OL:
            if (m_lists.size() > 1)
                m_out.unindent(2);
            if (!m_lists.empty())
                m_lists.pop_back();
            break;
        case GUMBO_TAG_A: {
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
    bool isNestedList(GumboTag t) const {
        // Checked before entering pushes and after leaving pops the list itself.
        return (t == GUMBO_TAG_UL || t == GUMBO_TAG_OL) && !m_lists.empty();
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
    int m_pre = 0;
    std::vector<int> m_lists; // 0 bullets, else the next number
    std::vector<Link> m_links;
};

} // namespace

std::string htmlToText(std::string_view html) {
    std::string utf8;
    if (!isValidUtf8(html)) {
        utf8 = bytesToUtf8(html);
        html = utf8;
    }
    std::string limited;
    html = limitDepth(html, limited);
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // errors are not shown; recording them costs memory
    GumboOutput* output = gumbo_parse_with_options(&options, html.data(), html.size());
    if (!output)
        return {};
    std::string text = Walker().run(output->document);
    gumbo_destroy_output(&options, output);
    return text;
}

} // namespace tarn
