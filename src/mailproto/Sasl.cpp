#include "mailproto/Sasl.h"

#include "core/AsciiText.h"

#include <nlohmann/json.hpp>

#include <array>

namespace tarn {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

bool offers(const std::vector<std::string>& offered, std::string_view name) {
    for (const std::string& o : offered)
        if (equalsNoCase(o, name))
            return true;
    return false;
}

} // namespace

const char* saslMechanismName(SaslMechanism mechanism) {
    switch (mechanism) {
    case SaslMechanism::Plain:
        return "PLAIN";
    case SaslMechanism::Login:
        return "LOGIN";
    case SaslMechanism::XOAuth2:
        return "XOAUTH2";
    case SaslMechanism::OAuthBearer:
        return "OAUTHBEARER";
    }
    return "PLAIN";
}

std::optional<SaslMechanism> chooseSaslMechanism(const std::vector<std::string>& offered,
                                                 bool accessToken) {
    // The standard mechanism first; the older one is what some providers still only offer.
    const std::array<SaslMechanism, 2> order =
        accessToken ? std::array{SaslMechanism::OAuthBearer, SaslMechanism::XOAuth2}
                    : std::array{SaslMechanism::Plain, SaslMechanism::Login};
    for (SaslMechanism m : order)
        if (offers(offered, saslMechanismName(m)))
            return m;
    return std::nullopt;
}

std::string saslBase64Encode(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> saslBase64Decode(std::string_view text) {
    text = trimSpaceTab(text);
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        int v[4];
        int pads = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            // Padding only at the very end, and at most two of it.
            if (c == '=' && i + 4 == text.size() && k >= 2) {
                v[k] = 0;
                ++pads;
                continue;
            }
            if (pads > 0)
                return std::nullopt;
            v[k] = valueOf(static_cast<unsigned char>(c));
            if (v[k] < 0)
                return std::nullopt;
        }
        const unsigned n = static_cast<unsigned>(v[0]) << 18 | static_cast<unsigned>(v[1]) << 12 |
                           static_cast<unsigned>(v[2]) << 6 | static_cast<unsigned>(v[3]);
        out += static_cast<char>(n >> 16);
        if (pads < 2)
            out += static_cast<char>((n >> 8) & 0xff);
        if (pads < 1)
            out += static_cast<char>(n & 0xff);
    }
    return out;
}

SaslExchange::SaslExchange(SaslMechanism mechanism, std::string user, std::string secret,
                           std::string host, int port)
    : m_mechanism(mechanism), m_user(std::move(user)), m_secret(std::move(secret)),
      m_host(std::move(host)), m_port(port) {}

std::optional<std::string> SaslExchange::initialResponse() const {
    switch (m_mechanism) {
    case SaslMechanism::Plain:
        return std::string(1, '\0') + m_user + '\0' + m_secret;
    case SaslMechanism::Login:
        return std::nullopt;
    case SaslMechanism::XOAuth2:
        return "user=" + m_user + "\x01" + "auth=Bearer " + m_secret + "\x01\x01";
    case SaslMechanism::OAuthBearer: {
        // The GS2 header names the user; "," in it is escaped as RFC 5801 asks.
        std::string user;
        for (char c : m_user) {
            if (c == ',')
                user += "=2C";
            else if (c == '=')
                user += "=3D";
            else
                user += c;
        }
        return "n,a=" + user + ",\x01" + "host=" + m_host + "\x01" +
               "port=" + std::to_string(m_port) + "\x01" + "auth=Bearer " + m_secret + "\x01\x01";
    }
    }
    return std::nullopt;
}

std::string SaslExchange::respond(std::string_view challenge) {
    ++m_steps;
    switch (m_mechanism) {
    case SaslMechanism::Plain:
        // Only the empty challenge of a server that did not take an initial response.
        return *initialResponse();
    case SaslMechanism::Login:
        // "Username:" then "Password:"; servers word the prompts differently, the order is
        // what counts.
        return m_steps == 1 ? m_user : m_secret;
    case SaslMechanism::XOAuth2:
    case SaslMechanism::OAuthBearer:
        if (challenge.empty() && m_steps == 1)
            return *initialResponse();
        m_failure = oauthChallengeReason(challenge, &m_tokenRefused);
        // XOAUTH2 ends with an empty answer, OAUTHBEARER with a lone ^A (RFC 7628, 3.2.3).
        return m_mechanism == SaslMechanism::XOAuth2 ? std::string() : std::string("\x01");
    }
    return {};
}

std::string oauthChallengeReason(std::string_view json, bool* tokenRefused) {
    std::string status;
    try {
        const nlohmann::json j = nlohmann::json::parse(json);
        if (j.is_object() && j.contains("status")) {
            const nlohmann::json& s = j["status"];
            status = s.is_string() ? s.get<std::string>() : s.dump();
        }
    } catch (const nlohmann::json::exception&) {
        // Not JSON: the server's refusal that follows says the rest.
    }
    // Keep it short and printable: it ends up in the field hint.
    std::string clean;
    for (char c : status.substr(0, 64))
        if (static_cast<unsigned char>(c) >= ' ' && c != 0x7f)
            clean += c;
    if (tokenRefused)
        *tokenRefused = clean.empty() || clean == "400" || clean == "401" ||
                        equalsNoCase(clean, "invalid_token");
    if (clean.empty())
        return "The server refused the access token.";
    return "The server refused the access token (status " + clean + ").";
}

std::string saslAnswerLine(SaslExchange& exchange, std::optional<std::string>& pendingInitial,
                           std::string_view challenge) {
    if (pendingInitial) {
        std::string line = saslBase64Encode(*pendingInitial);
        pendingInitial.reset();
        return line;
    }
    return saslBase64Encode(exchange.respond(challenge));
}

} // namespace tarn
