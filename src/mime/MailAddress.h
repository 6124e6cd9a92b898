#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// A display name and an address as read from an address header field.
class MailAddress {
public:
    MailAddress() = default;
    MailAddress(std::string name, std::string address)
        : m_name(std::move(name)), m_address(std::move(address)) {}

    const std::string& name() const { return m_name; }
    const std::string& address() const { return m_address; }

    // Parses one address: "Name <local@domain>", "local@domain (comment)", "\"Quoted\" <a@b>"
    // and the like. Quotes are removed (a backslash takes the next character literally),
    // comments are dropped. Throws TarnError "@ Outside address" for an "@" after a closing
    // ">".
    static MailAddress parse(std::string_view value);

    // Parses a comma-separated address list (To, Cc, Reply-To); commas inside quotes,
    // comments and angle brackets do not separate. Empty entries are skipped.
    static std::vector<MailAddress> parseList(std::string_view value);

    // The address as written in the sender text: local part and domain, in angle brackets
    // when there is a display name, quoted when the local part needs it; "<>" or empty for an
    // address without "@".
    std::string addressForm() const;

    // The sender text stored for the message: the address form, preceded by the display name
    // (quoted when it holds anything but letters, digits, spaces and the atom specials).
    std::string text() const;

private:
    std::string m_name;
    std::string m_address;
};

} // namespace tarn
