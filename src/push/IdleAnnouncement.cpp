#include "push/IdleAnnouncement.h"

#include "core/AsciiText.h"
#include "core/TarnError.h"
#include "mailproto/ImapResponseParser.h"

#include <optional>
#include <vector>

namespace tarn {

IdleAnnouncement IdleAnnouncement::read(std::string_view text) {
    IdleAnnouncement a;
    if (startsWithNoCase(text, "BYE")) {
        a.kind = Kind::Bye;
        a.text = std::string(text.substr(0, 80)) + (text.size() > 80 ? "..." : "");
        return a;
    }
    std::vector<ImapValue> v;
    try {
        v = ImapResponseParser::parseValues(text);
    } catch (const TarnError&) {
        return a; // nothing the watch needs
    }
    if (v.size() != 2 || v[0].kind != ImapValue::Kind::Atom)
        return a;
    const std::optional<std::uint64_t> n = parseDecimal(v[0].text, 999999999999);
    if (!n)
        return a;
    if (v[1].is("EXISTS"))
        a.kind = Kind::Exists;
    else if (v[1].is("EXPUNGE"))
        a.kind = Kind::Expunge;
    else
        return a;
    a.number = *n;
    return a;
}

} // namespace tarn
