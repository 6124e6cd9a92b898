#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// One value of an IMAP4 response: an atom (numbers and flags included), a string (quoted or
// literal, escapes resolved), NIL, or a parenthesised list.
struct ImapValue {
    enum class Kind { Atom, String, Nil, List };
    Kind kind = Kind::Nil;
    std::string text;             // atom text or string contents
    std::vector<ImapValue> items; // members of a list

    bool isNil() const { return kind == Kind::Nil; }
    bool isList() const { return kind == Kind::List; }
    // Atom or string whose text equals word without regard to case.
    bool is(std::string_view word) const;
};

struct ImapAddress {
    std::string name;    // display name
    std::string route;   // source route, obsolete and almost always empty
    std::string mailbox; // local part (or group name for a group marker)
    std::string host;    // empty for group markers

    // mailbox@host, the mailbox alone without a host, empty when both are missing.
    std::string address() const;
};

struct ImapEnvelope {
    std::string date; // the Date field as sent; decoding is left to the caller
    std::string subject;
    std::vector<ImapAddress> from;
    std::vector<ImapAddress> sender;
    std::vector<ImapAddress> replyTo;
    std::vector<ImapAddress> to;
    std::vector<ImapAddress> cc;
    std::vector<ImapAddress> bcc;
    std::string inReplyTo;
    std::string messageId; // trimmed

    // The first real From address (group markers skipped), or an empty address.
    ImapAddress firstFrom() const;
};

// "<n> FETCH (name value ...)".
struct ImapFetchResponse {
    long long number = 0;
    std::vector<std::pair<std::string, ImapValue>> items;

    const ImapValue* find(std::string_view name) const;
};

// Reads the data of IMAP4 responses (RFC 3501 syntax). The input is one logical response
// line with any literal written in wire form ("{n}" CR LF and n bytes). Malformed input fails
// with a TarnError; nothing is read beyond the input, and nesting is bounded.
class ImapResponseParser {
public:
    static constexpr std::size_t kMaxDepth = 64;

    // All values of text, in order.
    static std::vector<ImapValue> parseValues(std::string_view text);

    // The first values of text, at most count of them; rest, when given, receives where the
    // text after them begins (the free text of a status response). Only those values need be
    // well-formed.
    static std::vector<ImapValue> parseLeadingValues(std::string_view text, std::size_t count,
                                                     std::size_t* rest = nullptr);

    // nullopt when the line is not a FETCH response at all (for example "3 EXISTS").
    static std::optional<ImapFetchResponse> parseFetch(std::string_view untagged);

    static ImapEnvelope parseEnvelope(const ImapValue& envelope);

    // Size of the literal announced at the end of line ("... {123}" or "{123+}"), looking only
    // at text from position from on and ignoring braces inside quoted strings. nullopt when
    // the line does not end with a literal announcement; a size too large for the machine
    // gives SIZE_MAX.
    static std::optional<std::size_t> trailingLiteralSize(std::string_view line,
                                                          std::size_t from = 0);
};

} // namespace tarn
