#include "mailproto/AutoconfigDocument.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace tarn {

namespace {

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos)
        return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

// Replaces the five predefined entities and character references; false for any other.
bool unescape(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '&') {
            out += in[i];
            continue;
        }
        const auto semi = in.find(';', i);
        if (semi == std::string_view::npos)
            return false;
        const std::string_view name = in.substr(i + 1, semi - i - 1);
        if (name == "amp")
            out += '&';
        else if (name == "lt")
            out += '<';
        else if (name == "gt")
            out += '>';
        else if (name == "quot")
            out += '"';
        else if (name == "apos")
            out += '\'';
        else if (name.size() > 1 && name[0] == '#') {
            unsigned code = 0;
            const bool hex = name[1] == 'x';
            const std::string_view digits = name.substr(hex ? 2 : 1);
            const auto [p, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), code, hex ? 16 : 10);
            if (ec != std::errc() || p != digits.data() + digits.size() || code == 0 || code > 127)
                return false; // host names and ports are ASCII
            out += static_cast<char>(code);
        } else {
            return false;
        }
        i = semi;
    }
    return true;
}

struct Element {
    std::string name;
    std::string type; // the "type" attribute
    std::string text;
};

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
           c == ':';
}

// The "type" attribute of a start tag's attribute text; false when the attributes are not
// well-formed.
bool readAttributes(std::string_view attrs, std::string& type) {
    std::size_t i = 0;
    while (i < attrs.size()) {
        while (i < attrs.size() && std::isspace(static_cast<unsigned char>(attrs[i])))
            ++i;
        if (i == attrs.size())
            break;
        const std::size_t nameStart = i;
        while (i < attrs.size() && isNameChar(attrs[i]))
            ++i;
        const std::string_view name = attrs.substr(nameStart, i - nameStart);
        while (i < attrs.size() && std::isspace(static_cast<unsigned char>(attrs[i])))
            ++i;
        if (name.empty() || i == attrs.size() || attrs[i] != '=')
            return false;
        ++i;
        while (i < attrs.size() && std::isspace(static_cast<unsigned char>(attrs[i])))
            ++i;
        if (i == attrs.size() || (attrs[i] != '"' && attrs[i] != '\''))
            return false;
        const char quote = attrs[i++];
        const auto end = attrs.find(quote, i);
        if (end == std::string_view::npos)
            return false;
        std::string value;
        if (!unescape(attrs.substr(i, end - i), value))
            return false;
        if (name == "type")
            type = value;
        i = end + 1;
    }
    return true;
}

std::string fill(std::string text, std::string_view address) {
    const auto at = address.find('@');
    const std::string local(address.substr(0, at));
    const std::string domain(at == std::string_view::npos ? "" : address.substr(at + 1));
    auto replace = [&text](const std::string& key, const std::string& value) {
        for (std::size_t p = text.find(key); p != std::string::npos;
             p = text.find(key, p + value.size()))
            text.replace(p, key.size(), value);
    };
    replace("%EMAILADDRESS%", std::string(address));
    replace("%EMAILLOCALPART%", local);
    replace("%EMAILDOMAIN%", domain);
    return text;
}

bool plausibleHost(const std::string& host) {
    return !host.empty() && host.size() <= 253 && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
}

int rank(const FoundServer& s) {
    const int kind = s.kind == MailServerKind::Imap4 ? 0 : 2;
    switch (s.security) {
    case ConnectionSecurity::Tls:
        return kind;
    case ConnectionSecurity::StartTls:
        return kind + 1;
    case ConnectionSecurity::None:
        break;
    }
    return 4 + kind;
}

} // namespace

AutoconfigResult parseAutoconfig(std::string_view xml, std::string_view emailAddress) {
    AutoconfigResult result;
    auto refuse = [&result](std::string why) {
        result = {};
        result.error = std::move(why);
        return result;
    };
    if (xml.size() > kMaxAutoconfigBytes)
        return refuse("the configuration document is larger than 256 KiB");
    if (xml.substr(0, 3) == "\xEF\xBB\xBF")
        xml.remove_prefix(3);

    std::vector<Element> stack;
    std::optional<FoundServer> server; // inside an incomingServer
    bool serverUsable = true;
    bool sawRoot = false;
    std::size_t i = 0;
    while (i < xml.size()) {
        if (xml[i] != '<') {
            const auto next = xml.find('<', i);
            const std::string_view text = xml.substr(i, next - i);
            if (stack.empty()) {
                if (!trim(text).empty())
                    return refuse("the configuration document is not XML");
            } else {
                std::string plain;
                if (!unescape(text, plain))
                    return refuse("the configuration document is not XML");
                stack.back().text += plain;
            }
            if (next == std::string_view::npos)
                break;
            i = next;
            continue;
        }
        if (xml.substr(i, 4) == "<!--") {
            const auto end = xml.find("-->", i + 4);
            if (end == std::string_view::npos)
                return refuse("the configuration document is not XML");
            i = end + 3;
            continue;
        }
        if (xml.substr(i, 9) == "<![CDATA[") {
            const auto end = xml.find("]]>", i + 9);
            if (end == std::string_view::npos || stack.empty())
                return refuse("the configuration document is not XML");
            stack.back().text += xml.substr(i + 9, end - i - 9);
            i = end + 3;
            continue;
        }
        if (xml.substr(i, 2) == "<!")
            // Declarations could define entities; a configuration needs none.
            return refuse("the configuration document declares a DOCTYPE or entities");
        if (xml.substr(i, 2) == "<?") {
            const auto end = xml.find("?>", i + 2);
            if (end == std::string_view::npos)
                return refuse("the configuration document is not XML");
            i = end + 2;
            continue;
        }
        const auto end = xml.find('>', i);
        if (end == std::string_view::npos)
            return refuse("the configuration document is not XML");
        std::string_view tag = xml.substr(i + 1, end - i - 1);
        i = end + 1;
        if (!tag.empty() && tag[0] == '/') {
            const std::string name = trim(tag.substr(1));
            if (stack.empty() || stack.back().name != name)
                return refuse("the configuration document is not XML");
            Element done = std::move(stack.back());
            stack.pop_back();
            if (server && !stack.empty() && stack.back().name == "incomingServer") {
                const std::string value = trim(done.text);
                if (done.name == "hostname") {
                    server->host = lower(value);
                } else if (done.name == "port") {
                    int port = 0;
                    const auto [p, ec] =
                        std::from_chars(value.data(), value.data() + value.size(), port);
                    if (ec != std::errc() || p != value.data() + value.size() || port < 1 ||
                        port > 65535)
                        serverUsable = false;
                    server->port = port;
                } else if (done.name == "socketType") {
                    const std::string t = lower(value);
                    if (t == "ssl" || t == "tls")
                        server->security = ConnectionSecurity::Tls;
                    else if (t == "starttls")
                        server->security = ConnectionSecurity::StartTls;
                    else if (t == "plain")
                        server->security = ConnectionSecurity::None;
                    else
                        serverUsable = false;
                } else if (done.name == "username") {
                    server->username = fill(value, emailAddress);
                } else if (done.name == "authentication" && server->authentication.empty()) {
                    server->authentication = value;
                }
            }
            if (done.name == "incomingServer" && server) {
                if (serverUsable && plausibleHost(server->host) && server->port > 0)
                    result.servers.push_back(*server);
                server.reset();
            }
            continue;
        }
        const bool selfClosing = !tag.empty() && tag.back() == '/';
        if (selfClosing)
            tag.remove_suffix(1);
        std::size_t n = 0;
        while (n < tag.size() && isNameChar(tag[n]))
            ++n;
        Element e;
        e.name = std::string(tag.substr(0, n));
        if (e.name.empty() || !readAttributes(tag.substr(n), e.type))
            return refuse("the configuration document is not XML");
        if (stack.empty()) {
            if (sawRoot)
                return refuse("the configuration document is not XML");
            sawRoot = true;
            if (e.name != "clientConfig")
                return refuse("the document is no mail configuration");
        }
        if (e.name == "incomingServer" && !selfClosing) {
            const std::string type = lower(e.type);
            server.emplace();
            serverUsable = type == "imap" || type == "pop3";
            server->kind = type == "pop3" ? MailServerKind::Pop3 : MailServerKind::Imap4;
        }
        if (!selfClosing)
            stack.push_back(std::move(e));
    }
    if (!stack.empty() || !sawRoot)
        return refuse("the configuration document is not XML");
    result.valid = true;
    result.servers = rankServers(std::move(result.servers));
    return result;
}

std::vector<FoundServer> rankServers(std::vector<FoundServer> servers) {
    std::stable_sort(servers.begin(), servers.end(),
                     [](const FoundServer& a, const FoundServer& b) { return rank(a) < rank(b); });
    // A plain-text server beside an encrypted one is not offered at all.
    const bool anyEncrypted = std::any_of(servers.begin(), servers.end(), [](const FoundServer& s) {
        return s.security != ConnectionSecurity::None;
    });
    if (anyEncrypted)
        std::erase_if(servers,
                      [](const FoundServer& s) { return s.security == ConnectionSecurity::None; });
    return servers;
}

std::optional<FoundServer> knownProvider(std::string_view domainOrMxHost,
                                         std::string_view emailAddress) {
    struct Provider {
        std::vector<std::string_view> domains; // the address's domain, or a suffix of its MX
        const char* host;
    };
    static const Provider providers[] = {
        {{"gmail.com", "googlemail.com", ".google.com", ".googlemail.com"}, "imap.gmail.com"},
        {{"outlook.com", "hotmail.com", "live.com", "msn.com", ".outlook.com",
          ".protection.outlook.com"},
         "outlook.office365.com"},
    };
    std::string name = lower(domainOrMxHost);
    while (!name.empty() && name.back() == '.')
        name.pop_back();
    for (const Provider& p : providers) {
        for (std::string_view d : p.domains) {
            const bool match =
                d.front() == '.' ? name.size() > d.size() && name.ends_with(d) : name == d;
            if (!match)
                continue;
            FoundServer s;
            s.kind = MailServerKind::Imap4;
            s.host = p.host;
            s.port = 993;
            s.security = ConnectionSecurity::Tls;
            s.username = std::string(emailAddress);
            s.authentication = "OAuth2";
            return s;
        }
    }
    return std::nullopt;
}

} // namespace tarn
