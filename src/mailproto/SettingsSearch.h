#pragma once

#include "mailproto/AutoconfigDocument.h"
#include "net/DnsRecords.h"
#include "net/HttpClient.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// Where the search looks for an account's settings, most trusted first.
enum class SettingsSource {
    OverrideUrl,    // the administrator's document (TARNWICK_AUTOCONFIG_URL)
    AutoconfigHost, // https://autoconfig.<domain>/mail/config-v1.1.xml
    WellKnown,      // https://<domain>/.well-known/autoconfig/mail/config-v1.1.xml
    DnsSrv,         // _imaps._tcp, _pop3s._tcp, _imap._tcp, _pop3._tcp
    KnownProvider,  // the provider table, by the domain or its MX host
};
inline constexpr int kSettingsSourceCount = 5;

using HttpFetcher = std::function<HttpResponse(const HttpRequest&)>;

struct SettingsSearchOptions {
    std::string overrideUrl; // empty: that source is skipped
    std::chrono::milliseconds perSource{10000};
    std::chrono::milliseconds total{20000};
    HttpFetcher fetch; // each configuration document; httpFetch by default
    DnsResolver dns;   // SRV and MX records; the system's resolver by default
};

// The defaults: httpFetch, the system's resolver, and TARNWICK_AUTOCONFIG_URL when set.
SettingsSearchOptions defaultSettingsSearchOptions();

struct SettingsSearchResult {
    bool found = false;
    bool cancelled = false;
    FoundServer server;
    SettingsSource source = SettingsSource::OverrideUrl;
    std::string origin;               // the host the settings came from (or the name that matched)
    std::string oauthProvider;        // the preset's id when the server signs in with OAuth 2.0
    std::vector<std::string> reasons; // why each source gave nothing, for the user to read
};

// The address's domain in lower case; empty when the text is no address the search can use.
std::string emailDomain(std::string_view address);

// Asks every source at once, each within perSource and all within total, and answers with the
// most trusted source that found a server: a less trusted answer waits for the more trusted
// sources to give up, an answer of the most trusted one still open ends the wait. A server
// without encryption is taken only when no source offers an encrypted one. Blocking; call it
// on a worker thread. Setting *cancel ends it soon with cancelled set.
SettingsSearchResult searchSettings(const std::string& emailAddress,
                                    const SettingsSearchOptions& options,
                                    const std::atomic<bool>* cancel = nullptr);

} // namespace tarn
