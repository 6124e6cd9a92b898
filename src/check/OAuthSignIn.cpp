#include "check/OAuthSignIn.h"

#include "core/OAuthProviders.h"
#include "core/SettingsStore.h"
#include "net/LoopbackRedirect.h"

namespace tarn {

namespace {

const std::string& orPreset(const std::string& own, const char* preset, std::string& buffer) {
    if (!own.empty() || preset == nullptr)
        return own;
    buffer = preset;
    return buffer;
}

} // namespace

OAuthClient oauthClientOf(const AccountSettings& account) {
    const OAuthPreset* p = oauthPreset(account.OAuthProvider);
    OAuthClient c;
    std::string buffer;
    c.authorizeUrl = orPreset(account.OAuthAuthorizeURL, p ? p->authorizeUrl : nullptr, buffer);
    c.tokenUrl = orPreset(account.OAuthTokenURL, p ? p->tokenUrl : nullptr, buffer);
    c.scope = orPreset(account.OAuthScope, p ? p->scope : nullptr, buffer);
    c.clientId = orPreset(account.OAuthClientID, p ? p->builtInClientId : nullptr, buffer);
    // A built-in secret belongs to the built-in client only.
    c.clientSecret = account.OAuthClientID.empty() && p ? std::string(p->builtInClientSecret)
                                                        : account.OAuthClientSecret;
    return c;
}

std::string oauthAuthorizeExtras(const AccountSettings& account) {
    const OAuthPreset* p = oauthPreset(account.OAuthProvider);
    return p ? p->extraAuthorizeParameters : "";
}

SignInOutcome runOAuthSignIn(const AccountSettings& account,
                             const std::function<void(const std::string& url)>& showUrl,
                             const SignInOptions& options) {
    SignInOutcome out;
    const OAuthClient client = oauthClientOf(account);
    if (const std::string problem = oauthClientProblem(client); !problem.empty()) {
        out.error = problem;
        return out;
    }
    try {
        LoopbackRedirect listener;
        const std::string verifier = pkceVerifier();
        const std::string state = oauthState();
        std::string extras = oauthAuthorizeExtras(account);
        if (!account.UserID.empty())
            extras += "&login_hint=" + formEncode(account.UserID);
        showUrl(authorizationUrl(client, listener.redirectUri(), state, pkceChallenge(verifier),
                                 extras));
        const LoopbackRedirect::Outcome redirect =
            listener.wait(state, options.browserLimit, options.cancel);
        if (!redirect.ok) {
            out.error = redirect.error;
            return out;
        }
        out.tokens = exchangeAuthorizationCode(client, redirect.code, verifier,
                                               listener.redirectUri(), options.limits);
    } catch (const std::exception& e) {
        out.error = e.what();
        return out;
    }
    if (!out.tokens.ok) {
        out.error = out.tokens.error;
        return out;
    }
    if (out.tokens.refreshToken.empty()) {
        // Without one the account would need the browser again within the hour.
        out.error = "The provider gave no refresh token; check that the scope asks for "
                    "offline access.";
        out.tokens = {};
        return out;
    }
    out.ok = true;
    return out;
}

std::string keepSignIn(SettingsStore& store, int number, const AccountSettings& account,
                       const OAuthTokenAnswer& tokens, std::chrono::milliseconds keyringLimit) {
    const std::string error =
        store.storeRefreshToken(number, account, tokens.refreshToken, keyringLimit);
    if (!error.empty())
        return error;
    store.rememberAccessToken(account.SecretId, tokens.accessToken,
                              std::chrono::system_clock::now() + tokens.expiresIn);
    return {};
}

AccessToken accessTokenFor(SettingsStore& store, int number, const AccountSettings& account,
                           bool fresh, const OAuthLimits& limits,
                           std::chrono::milliseconds keyringLimit) {
    AccessToken out;
    const SettingsStore::OAuthTokenState state = store.oauthTokens(account.SecretId);
    const auto now = std::chrono::system_clock::now();
    if (!fresh && !state.accessToken.empty() && state.expires > now + std::chrono::minutes(1)) {
        out.token = state.accessToken;
        return out;
    }
    std::string refresh = state.refreshToken;
    if (refresh.empty())
        refresh = account.OAuthRefreshToken;
    if (refresh.empty() && account.refreshTokenInKeyring()) {
        SecretStore* keyring = store.secretStore();
        if (!keyring) {
            out.error = "The sign-in is kept in the desktop keyring, which this program cannot "
                        "use.";
            return out;
        }
        const SecretAnswer a =
            keyring->read(store.secretKey(account, SecretKind::OAuthRefreshToken), keyringLimit);
        if (a.status == SecretAnswer::Status::Failed) {
            out.error = "The sign-in could not be read from the desktop keyring: " + a.error;
            return out;
        }
        if (a.status == SecretAnswer::Status::Found)
            refresh = a.secret;
    }
    if (refresh.empty()) {
        out.error = "The account is not signed in: use \"Sign in...\" on its page in the "
                    "preferences (or tarnwick-check --sign-in " +
                    std::to_string(number) + ").";
        out.signInAgain = true;
        return out;
    }
    const OAuthTokenAnswer answer = refreshAccessToken(oauthClientOf(account), refresh, limits);
    if (!answer.ok) {
        store.forgetAccessToken(account.SecretId);
        out.error = answer.error;
        out.signInAgain = answer.invalidGrant;
        // The account page tells the user until a new sign-in is kept.
        if (answer.invalidGrant)
            store.noteSignInRefused(account.SecretId, answer.error);
        return out;
    }
    store.rememberAccessToken(account.SecretId, answer.accessToken, now + answer.expiresIn);
    if (!answer.refreshToken.empty() && answer.refreshToken != refresh) {
        // Providers that rotate take the old token back soon: the new one must be kept now.
        const std::string error =
            store.storeRefreshToken(number, account, answer.refreshToken, keyringLimit);
        if (!error.empty()) {
            out.error =
                "The provider replaced the sign-in, and the new one could not be kept: " + error;
            return out;
        }
    }
    out.token = answer.accessToken;
    return out;
}

} // namespace tarn
