#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// The SASL mechanisms the mail clients speak.
enum class SaslMechanism { Plain, Login, XOAuth2, OAuthBearer };

const char* saslMechanismName(SaslMechanism mechanism);

// The mechanism to use among those the server offers (names in any case): for a password
// PLAIN, else LOGIN; for an access token OAUTHBEARER, else XOAUTH2. nullopt when the server
// offers none of them.
std::optional<SaslMechanism> chooseSaslMechanism(const std::vector<std::string>& offered,
                                                 bool accessToken);

// Standard base64 (RFC 4648) with padding, as SASL exchanges carry it.
std::string saslBase64Encode(std::string_view bytes);
// nullopt when the text is not base64 (whitespace around it is allowed).
std::optional<std::string> saslBase64Decode(std::string_view text);

// One client side of a SASL exchange. The protocol client sends initialResponse() (with the
// command when the protocol and the line length allow it, else in answer to the server's first,
// empty challenge) and answers each further challenge with respond().
class SaslExchange {
public:
    // host and port go into OAUTHBEARER's message (RFC 7628).
    SaslExchange(SaslMechanism mechanism, std::string user, std::string secret, std::string host,
                 int port);

    SaslMechanism mechanism() const { return m_mechanism; }
    // The first client message (raw bytes), or nullopt for a mechanism that waits for the
    // server to speak first (LOGIN).
    std::optional<std::string> initialResponse() const;
    // The raw answer to a decoded challenge. An OAuth mechanism's challenge is the server's
    // error (a JSON object): the answer finishes the exchange so that the server can send
    // its refusal, and failureReason() words the error.
    std::string respond(std::string_view challenge);
    // Why an OAuth exchange failed, from the server's error challenge; empty when there was
    // none. Never holds the token.
    const std::string& failureReason() const { return m_failure; }
    bool tokenRefused() const { return m_tokenRefused; }

private:
    SaslMechanism m_mechanism;
    std::string m_user;
    std::string m_secret;
    std::string m_host;
    int m_port;
    int m_steps = 0;
    std::string m_failure;
    bool m_tokenRefused = false;
};

// The base64 line that answers a decoded challenge: the initial response when it did not go
// with the command (it is used up then), else the exchange's answer.
std::string saslAnswerLine(SaslExchange& exchange, std::optional<std::string>& pendingInitial,
                           std::string_view challenge);

// The reason an OAuth error challenge gives ({"status":"401","schemes":...,"scope":...}),
// in words for the user; tokenRefused tells whether the status says the token was not
// accepted (400, 401, invalid_token), so that a fresh one may help.
std::string oauthChallengeReason(std::string_view json, bool* tokenRefused = nullptr);

} // namespace tarn
