#include "mailproto/SettingsSearch.h"

#include "core/AsciiText.h"
#include "core/DurationText.h"
#include "core/OAuthProviders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace tarn {

namespace {

using Clock = std::chrono::steady_clock;

// What one source brought.
struct Outcome {
    bool done = false;
    bool found = false;
    FoundServer server;
    std::string origin;
    std::string reason; // when nothing was found
};

// Shared by the search and its source threads, so a source that outlives the search (a
// resolver that does not give up) still has somewhere to put its late answer.
struct Shared {
    explicit Shared(SettingsSearchOptions o) : options(std::move(o)) {}
    const SettingsSearchOptions options;
    std::mutex mutex;
    std::condition_variable changed;
    std::array<Outcome, kSettingsSourceCount> outcomes;
    std::atomic<bool> stop{false}; // the search has its answer or was cancelled
};

const char* sourceName(SettingsSource s) {
    switch (s) {
    case SettingsSource::OverrideUrl:
        return "TARNWICK_AUTOCONFIG_URL";
    case SettingsSource::AutoconfigHost:
        return "autoconfig server";
    case SettingsSource::WellKnown:
        return "well-known address";
    case SettingsSource::DnsSrv:
        return "DNS SRV records";
    case SettingsSource::KnownProvider:
        return "known providers";
    }
    return "";
}

// The host part of an absolute URL, without user information or port.
std::string urlHost(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme == std::string_view::npos)
        return {};
    std::string_view rest = url.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("/?#"));
    if (const auto at = rest.rfind('@'); at != std::string_view::npos)
        rest.remove_prefix(at + 1);
    if (!rest.empty() && rest.front() == '[')
        return std::string(rest.substr(0, rest.find(']') + 1));
    return lowerAsciiCopy(rest.substr(0, rest.find(':')));
}

bool plausibleHostName(std::string_view host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.front() == '-' ||
        host.find("..") != std::string_view::npos)
        return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
}

Outcome nothing(std::string reason) {
    Outcome o;
    o.reason = std::move(reason);
    return o;
}

Outcome fromDocument(const SettingsSearchOptions& options, const std::string& url,
                     const std::string& address, const std::atomic<bool>& stop) {
    HttpRequest request;
    request.url = url;
    request.connectTimeout = options.perSource;
    request.totalTimeout = options.perSource;
    request.maxBodyBytes = kMaxAutoconfigBytes;
    request.maxRedirects = 3;
    request.cancel = &stop;
    request.headers = {{"Accept", "application/xml, text/xml"}};
    const HttpResponse response = options.fetch ? options.fetch(request) : httpFetch(request);
    if (!response.ok)
        return nothing(response.error);
    const std::string host = urlHost(response.finalUrl.empty() ? url : response.finalUrl);
    if (response.status != 200)
        return nothing(host + " answered with status " + std::to_string(response.status));
    const AutoconfigResult document = parseAutoconfig(response.body, address);
    if (!document.valid)
        return nothing(document.error + " (" + host + ")");
    if (document.servers.empty())
        return nothing(host + " names no incoming server the program can use");
    Outcome o;
    o.found = true;
    o.server = document.servers.front();
    o.origin = host;
    return o;
}

Outcome fromSrvRecords(const SettingsSearchOptions& options, const std::string& domain,
                       const std::string& address) {
    if (!options.dns.srv)
        return nothing("no resolver");
    struct Service {
        const char* label;
        MailServerKind kind;
        ConnectionSecurity security;
    };
    static const Service services[] = {
        {"_imaps._tcp.", MailServerKind::Imap4, ConnectionSecurity::Tls},
        {"_pop3s._tcp.", MailServerKind::Pop3, ConnectionSecurity::Tls},
        {"_imap._tcp.", MailServerKind::Imap4, ConnectionSecurity::StartTls},
        {"_pop3._tcp.", MailServerKind::Pop3, ConnectionSecurity::StartTls},
    };
    std::vector<FoundServer> offered;
    std::vector<std::string> origins;
    std::string why;
    for (const Service& s : services) {
        const std::string name = s.label + domain;
        const DnsAnswer answer = options.dns.srv(name);
        if (!answer.ok) {
            why = answer.error;
            continue;
        }
        // A single record with the target "." says the service is not offered at all.
        const std::vector<SrvRecord> records = orderSrvRecords(answer.srv);
        for (const SrvRecord& r : records) {
            if (r.target == "." || r.port == 0 || !plausibleHostName(r.target))
                continue;
            FoundServer f;
            f.kind = s.kind;
            f.host = lowerAsciiCopy(r.target);
            f.port = r.port;
            f.security = s.security;
            f.username = address;
            offered.push_back(f);
            origins.push_back(name);
            break;
        }
    }
    if (offered.empty())
        return nothing(why.empty() ? "no mail service records for " + domain : why);
    // rankServers keeps the order among equals, so the origin is found by the server.
    const std::vector<FoundServer> ranked = rankServers(offered);
    Outcome o;
    o.found = true;
    o.server = ranked.front();
    for (std::size_t i = 0; i < offered.size(); ++i)
        if (offered[i].kind == o.server.kind && offered[i].security == o.server.security)
            o.origin = origins[i];
    return o;
}

Outcome fromProviderTable(const SettingsSearchOptions& options, const std::string& domain,
                          const std::string& address) {
    if (std::optional<FoundServer> s = knownProvider(domain, address)) {
        Outcome o;
        o.found = true;
        o.server = *s;
        o.origin = domain;
        return o;
    }
    if (!options.dns.mx)
        return nothing(domain + " is no known provider");
    DnsAnswer answer = options.dns.mx(domain);
    if (!answer.ok)
        return nothing(answer.error);
    std::stable_sort(answer.mx.begin(), answer.mx.end(), [](const MxRecord& a, const MxRecord& b) {
        return a.preference < b.preference;
    });
    for (const MxRecord& mx : answer.mx) {
        if (std::optional<FoundServer> s = knownProvider(mx.host, address)) {
            Outcome o;
            o.found = true;
            o.server = *s;
            o.origin = lowerAsciiCopy(mx.host);
            return o;
        }
    }
    return nothing(domain + " and its mail exchangers are no known provider");
}

Outcome runSource(SettingsSource source, const SettingsSearchOptions& options,
                  const std::string& address, const std::string& domain,
                  const std::atomic<bool>& stop) {
    switch (source) {
    case SettingsSource::OverrideUrl: {
        const std::string& url = options.overrideUrl;
        return fromDocument(options,
                            url + (url.find('?') == std::string::npos ? "?" : "&") +
                                "emailaddress=" + formEncode(address),
                            address, stop);
    }
    case SettingsSource::AutoconfigHost:
        return fromDocument(options,
                            "https://autoconfig." + domain +
                                "/mail/config-v1.1.xml?emailaddress=" + formEncode(address),
                            address, stop);
    case SettingsSource::WellKnown:
        return fromDocument(options,
                            "https://" + domain + "/.well-known/autoconfig/mail/config-v1.1.xml",
                            address, stop);
    case SettingsSource::DnsSrv:
        return fromSrvRecords(options, domain, address);
    case SettingsSource::KnownProvider:
        return fromProviderTable(options, domain, address);
    }
    return nothing("unknown source");
}

std::string presetFor(const FoundServer& server) {
    if (!equalsNoCase(server.authentication, "OAuth2"))
        return {};
    for (const OAuthPreset& p : oauthPresets())
        if (equalsNoCase(server.host, p.imapHost) || equalsNoCase(server.host, p.pop3Host))
            return p.id;
    return {};
}

// The answer, once it can be given: the first source in order of trust whose outcome is
// an encrypted server, provided every more trusted source has ended without one. A server
// without encryption counts only once every source has ended and none offers encryption.
std::optional<int> decide(const std::array<Outcome, kSettingsSourceCount>& outcomes) {
    std::optional<int> plain;
    for (int i = 0; i < kSettingsSourceCount; ++i) {
        const Outcome& o = outcomes[i];
        if (!o.done)
            return std::nullopt;
        if (!o.found)
            continue;
        if (o.server.security != ConnectionSecurity::None)
            return i;
        if (!plain)
            plain = i;
    }
    return plain;
}

} // namespace

SettingsSearchOptions defaultSettingsSearchOptions() {
    SettingsSearchOptions options;
    options.fetch = httpFetch;
    options.dns = systemDnsResolver();
    if (const char* url = std::getenv("TARNWICK_AUTOCONFIG_URL"); url && *url)
        options.overrideUrl = url;
    return options;
}

std::string emailDomain(std::string_view address) {
    const auto at = address.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 >= address.size())
        return {};
    const std::string_view local = address.substr(0, at);
    if (std::any_of(local.begin(), local.end(), [](char c) {
            const auto u = static_cast<unsigned char>(c);
            return u <= ' ' || u >= 127;
        }))
        return {};
    std::string domain = lowerAsciiCopy(address.substr(at + 1));
    if (!domain.empty() && domain.back() == '.')
        domain.pop_back();
    return plausibleHostName(domain) && domain.find('.') != std::string::npos ? domain
                                                                              : std::string();
}

SettingsSearchResult searchSettings(const std::string& emailAddress,
                                    const SettingsSearchOptions& options,
                                    const std::atomic<bool>* cancel) {
    SettingsSearchResult result;
    const std::string domain = emailDomain(emailAddress);
    if (domain.empty()) {
        result.reasons.push_back(emailAddress + " is not an e-mail address");
        return result;
    }
    auto shared = std::make_shared<Shared>(options);
    const auto start = Clock::now();
    const auto sourceDeadline = start + options.perSource;
    const auto totalDeadline = start + options.total;
    for (int i = 0; i < kSettingsSourceCount; ++i) {
        const auto source = static_cast<SettingsSource>(i);
        if (source == SettingsSource::OverrideUrl && options.overrideUrl.empty()) {
            shared->outcomes[i].done = true;
            continue;
        }
        try {
            std::thread([shared, source, emailAddress, domain] {
                Outcome o;
                try {
                    o = runSource(source, shared->options, emailAddress, domain, shared->stop);
                } catch (const std::exception& e) {
                    o = nothing(e.what());
                }
                std::lock_guard<std::mutex> lock(shared->mutex);
                Outcome& slot = shared->outcomes[static_cast<int>(source)];
                if (slot.done)
                    return; // already given up on
                slot = std::move(o);
                slot.done = true;
                shared->changed.notify_all();
            }).detach();
        } catch (const std::system_error&) {
            shared->outcomes[i] = nothing("no thread could be started");
            shared->outcomes[i].done = true;
        }
    }

    std::unique_lock<std::mutex> lock(shared->mutex);
    std::optional<int> chosen;
    for (;;) {
        const auto now = Clock::now();
        if (now >= sourceDeadline)
            for (Outcome& o : shared->outcomes)
                if (!o.done) {
                    o = nothing("no answer within " + secondsText(options.perSource));
                    o.done = true;
                }
        chosen = decide(shared->outcomes);
        const bool allEnded = std::all_of(shared->outcomes.begin(), shared->outcomes.end(),
                                          [](const Outcome& o) { return o.done; });
        if (chosen || allEnded)
            break;
        if (cancel && cancel->load()) {
            result.cancelled = true;
            break;
        }
        if (now >= totalDeadline)
            break;
        // Short slices, so a cancel from the caller is seen soon.
        shared->changed.wait_until(
            lock, std::min({sourceDeadline, totalDeadline, now + std::chrono::milliseconds(50)}));
    }
    shared->stop = true; // sources still at work end soon
    if (result.cancelled)
        return result;
    for (int i = 0; i < kSettingsSourceCount; ++i) {
        const Outcome& o = shared->outcomes[i];
        if (o.done && !o.found && !o.reason.empty())
            result.reasons.push_back(std::string(sourceName(static_cast<SettingsSource>(i))) +
                                     ": " + o.reason);
    }
    if (!chosen)
        return result;
    const Outcome& best = shared->outcomes[*chosen];
    result.found = true;
    result.server = best.server;
    result.source = static_cast<SettingsSource>(*chosen);
    result.origin = best.origin;
    result.oauthProvider = presetFor(best.server);
    return result;
}

} // namespace tarn
