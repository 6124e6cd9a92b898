#include "mailproto/SettingsSearch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "fakes/HttpTestServer.h"
#include "fakes/ScriptedServer.h"
#include "fakes/TestPki.h"

using namespace std::chrono_literals;

namespace tarn {
namespace {

using test::HttpTestServer;
using test::ScriptedServer;
using test::TestPki;

const std::string kAddress = "ann@example.test";

std::string server(const char* type, const char* host, int port, const char* socket,
                   const char* auth = "password-cleartext") {
    return std::string("<incomingServer type=\"") + type + "\"><hostname>" + host +
           "</hostname><port>" + std::to_string(port) + "</port><socketType>" + socket +
           "</socketType><username>%EMAILADDRESS%</username><authentication>" + auth +
           "</authentication></incomingServer>";
}

std::string document(const std::string& servers) {
    return "<?xml version=\"1.0\"?>\n<clientConfig version=\"1.1\"><emailProvider "
           "id=\"example.test\">" +
           servers + "</emailProvider></clientConfig>";
}

HttpTestServer::Reply xml(const std::string& body) {
    return HttpTestServer::answer("HTTP/1.1 200 OK", {"Content-Type: text/xml"}, body);
}

std::string httpAnswer(const std::string& status, const std::string& body) {
    return "HTTP/1.1 " + status +
           "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The https side of the mail domain: one TLS server of the tests standing in for
// autoconfig.example.test and example.test, with the test CA trusted.
class HttpsSite {
public:
    HttpsSite() {
        const TestPki& pki = TestPki::shared();
        m_server.setTls(pki.good().certFile, pki.good().keyFile, ScriptedServer::TlsFrom::Accept);
    }
    // Serves body at the path; every other path answers 404.
    void serve(const std::string& path, const std::string& body) {
        m_server.onPrefix("GET " + path, httpAnswer("200 OK", body), ScriptedServer::After::Close);
    }
    void finish() {
        m_server.onPrefix("GET ", httpAnswer("404 Not Found", "none"),
                          ScriptedServer::After::Close);
    }
    int port() const { return m_server.port(); }
    std::vector<std::string> received() const { return m_server.received(); }

private:
    ScriptedServer m_server;
};

// Sends the domain's https addresses to the test server instead of the network, and refuses
// every other one, so nothing leaves 127.0.0.1. The answer names the address asked for.
// Port 0: the domain has no https site.
HttpFetcher mappedTo(int port) {
    return [port](const HttpRequest& request) {
        for (const char* host : {"https://autoconfig.example.test/", "https://example.test/"}) {
            const std::string prefix = host;
            if (port == 0 || request.url.rfind(prefix, 0) != 0)
                continue;
            HttpRequest local = request;
            local.url = "https://127.0.0.1:" + std::to_string(port) + "/" +
                        request.url.substr(prefix.size());
            HttpResponse r = httpFetch(local);
            if (r.ok)
                r.finalUrl = request.url;
            return r;
        }
        if (request.url.rfind("http://127.0.0.1:", 0) == 0)
            return httpFetch(request);
        HttpResponse refused;
        refused.error = "not reachable in this test: " + request.url;
        return refused;
    };
}

// A resolver that knows a few records and nothing else.
struct FakeDns {
    std::map<std::string, std::vector<SrvRecord>> srv;
    std::map<std::string, std::vector<MxRecord>> mx;

    DnsResolver resolver() const {
        DnsResolver r;
        r.srv = [srv = srv](const std::string& name) {
            DnsAnswer a;
            const auto it = srv.find(name);
            a.ok = it != srv.end();
            if (a.ok)
                a.srv = it->second;
            else
                a.error = name + ": no such name";
            return a;
        };
        r.mx = [mx = mx](const std::string& name) {
            DnsAnswer a;
            const auto it = mx.find(name);
            a.ok = it != mx.end();
            if (a.ok)
                a.mx = it->second;
            else
                a.error = name + ": no such name";
            return a;
        };
        return r;
    }
};

SettingsSearchOptions options(int httpsPort, const FakeDns& dns = {}) {
    SettingsSearchOptions o;
    o.fetch = mappedTo(httpsPort);
    o.dns = dns.resolver();
    o.perSource = 5s;
    o.total = 10s;
    return o;
}

std::string joined(const std::vector<std::string>& reasons) {
    std::string all;
    for (const std::string& r : reasons)
        all += r + "\n";
    return all;
}

class SettingsSearchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestPki::shared(); }
};

TEST_F(SettingsSearchTest, TheAdministratorsUrlWinsOverTheDomainsOwnDocument) {
    // The administrator's answer comes last, and still wins.
    HttpTestServer admin([](const std::string&) {
        HttpTestServer::Reply slow = xml(document(server("imap", "imap.admin.test", 993, "SSL")));
        slow.bytePause = 1ms;
        return slow;
    });
    HttpsSite site;
    site.serve("/mail/config-v1.1.xml", document(server("imap", "imap.example.test", 993, "SSL")));
    site.finish();

    const std::string url = "http://127.0.0.1:" + std::to_string(admin.port()) + "/config.xml";
    ASSERT_EQ(setenv("TARNWICK_AUTOCONFIG_URL", url.c_str(), 1), 0);
    const std::string fromEnvironment = defaultSettingsSearchOptions().overrideUrl;
    unsetenv("TARNWICK_AUTOCONFIG_URL");
    EXPECT_EQ(fromEnvironment, url);
    EXPECT_TRUE(defaultSettingsSearchOptions().overrideUrl.empty());

    SettingsSearchOptions o = options(site.port());
    o.overrideUrl = fromEnvironment;
    const SettingsSearchResult r = searchSettings("ann+mail@example.test", o);
    ASSERT_TRUE(r.found) << joined(r.reasons);
    EXPECT_EQ(r.source, SettingsSource::OverrideUrl);
    EXPECT_EQ(r.server.host, "imap.admin.test");
    EXPECT_EQ(r.server.username, "ann+mail@example.test");
    EXPECT_EQ(r.origin, "127.0.0.1");
    ASSERT_FALSE(admin.requests().empty());
    EXPECT_EQ(HttpTestServer::requestLine(admin.requests()[0]),
              "GET /config.xml?emailaddress=ann%2Bmail%40example.test HTTP/1.1");
}

TEST_F(SettingsSearchTest, EachSourceFindsTheServerOnItsOwn) {
    struct Case {
        const char* name;
        std::string autoconfigDoc; // empty: 404
        std::string wellKnownDoc;
        FakeDns dns;
        std::string address;
        SettingsSource source;
        std::string origin;
        MailServerKind kind;
        std::string host;
        int port;
        ConnectionSecurity security;
        std::string oauthProvider;
    };
    FakeDns srv;
    srv.srv["_imap._tcp.example.test"] = {{0, 0, 143, "imap.example.test"}};
    srv.srv["_pop3s._tcp.example.test"] = {{0, 0, 995, "pop.example.test"}};
    FakeDns mx;
    mx.mx["example.test"] = {{20, "mx2.example.test"},
                             {10, "example-test.mail.protection.outlook.com"}};
    const Case cases[] = {
        {"autoconfig host",
         document(server("pop3", "pop.example.test", 995, "SSL")),
         "",
         {},
         kAddress,
         SettingsSource::AutoconfigHost,
         "autoconfig.example.test",
         MailServerKind::Pop3,
         "pop.example.test",
         995,
         ConnectionSecurity::Tls,
         ""},
        {"well-known address",
         "",
         document(server("imap", "imap.example.test", 143, "STARTTLS")),
         {},
         kAddress,
         SettingsSource::WellKnown,
         "example.test",
         MailServerKind::Imap4,
         "imap.example.test",
         143,
         ConnectionSecurity::StartTls,
         ""},
        {"SRV records", "", "", srv, kAddress, SettingsSource::DnsSrv, "_imap._tcp.example.test",
         MailServerKind::Imap4, "imap.example.test", 143, ConnectionSecurity::StartTls, ""},
        {"provider by domain",
         "",
         "",
         {},
         "bob@GMail.com",
         SettingsSource::KnownProvider,
         "gmail.com",
         MailServerKind::Imap4,
         "imap.gmail.com",
         993,
         ConnectionSecurity::Tls,
         "google"},
        {"provider by MX", "", "", mx, kAddress, SettingsSource::KnownProvider,
         "example-test.mail.protection.outlook.com", MailServerKind::Imap4, "outlook.office365.com",
         993, ConnectionSecurity::Tls, "microsoft"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpsSite site;
        if (!c.autoconfigDoc.empty())
            site.serve("/mail/config-v1.1.xml?emailaddress=ann%40example.test", c.autoconfigDoc);
        if (!c.wellKnownDoc.empty())
            site.serve("/.well-known/autoconfig/mail/config-v1.1.xml", c.wellKnownDoc);
        site.finish();
        const SettingsSearchResult r = searchSettings(c.address, options(site.port(), c.dns));
        ASSERT_TRUE(r.found) << joined(r.reasons);
        EXPECT_EQ(r.source, c.source);
        EXPECT_EQ(r.origin, c.origin);
        EXPECT_EQ(r.server.kind, c.kind);
        EXPECT_EQ(r.server.host, c.host);
        EXPECT_EQ(r.server.port, c.port);
        EXPECT_EQ(r.server.security, c.security);
        EXPECT_EQ(r.oauthProvider, c.oauthProvider);
        EXPECT_EQ(r.server.username, c.address);
    }
}

TEST_F(SettingsSearchTest, SrvRecordsFollowPriorityWeightAndTheNotOfferedTarget) {
    struct Case {
        const char* name;
        std::map<std::string, std::vector<SrvRecord>> records;
        bool found;
        std::string host;
        int port;
        MailServerKind kind;
        ConnectionSecurity security;
    };
    const Case cases[] = {
        {"lowest priority first",
         {{"_imaps._tcp.example.test",
           {{20, 100, 993, "backup.example.test"}, {10, 0, 9993, "main.example.test"}}}},
         true,
         "main.example.test",
         9993,
         MailServerKind::Imap4,
         ConnectionSecurity::Tls},
        {"heavier weight within a priority",
         {{"_imaps._tcp.example.test",
           {{10, 10, 993, "light.example.test"}, {10, 60, 993, "heavy.example.test"}}}},
         true,
         "heavy.example.test",
         993,
         MailServerKind::Imap4,
         ConnectionSecurity::Tls},
        {"'.' means not offered",
         {{"_imaps._tcp.example.test", {{0, 0, 0, "."}}},
          {"_pop3s._tcp.example.test", {{0, 0, 995, "pop.example.test"}}}},
         true,
         "pop.example.test",
         995,
         MailServerKind::Pop3,
         ConnectionSecurity::Tls},
        {"IMAP4 with STARTTLS before POP3 over TLS",
         {{"_pop3s._tcp.example.test", {{0, 0, 995, "pop.example.test"}}},
          {"_imap._tcp.example.test", {{0, 0, 143, "imap.example.test"}}}},
         true,
         "imap.example.test",
         143,
         MailServerKind::Imap4,
         ConnectionSecurity::StartTls},
        {"nothing offered",
         {{"_imaps._tcp.example.test", {{0, 0, 0, "."}}},
          {"_imap._tcp.example.test", {{0, 0, 0, "."}}}},
         false,
         "",
         0,
         MailServerKind::Imap4,
         ConnectionSecurity::Tls},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeDns dns;
        dns.srv = c.records;
        const SettingsSearchResult r = searchSettings(kAddress, options(0, dns));
        ASSERT_EQ(r.found, c.found) << joined(r.reasons);
        if (!c.found) {
            EXPECT_NE(joined(r.reasons).find("DNS SRV records: "), std::string::npos);
            continue;
        }
        EXPECT_EQ(r.source, SettingsSource::DnsSrv);
        EXPECT_EQ(r.server.host, c.host);
        EXPECT_EQ(r.server.port, c.port);
        EXPECT_EQ(r.server.kind, c.kind);
        EXPECT_EQ(r.server.security, c.security);
    }
}

TEST_F(SettingsSearchTest, UntrustworthyDocumentsGiveNothingBeyondWhatTheyValidlySay) {
    const std::string good = document(server("imap", "imap.example.test", 993, "SSL"));
    const std::string huge = document(server("imap", "imap.example.test", 993, "SSL") + "<!--" +
                                      std::string(300 * 1024, 'x') + "-->");
    struct Case {
        const char* name;
        int redirects; // served before the document
        std::string body;
        bool found;
        std::string reasonPart;
        ConnectionSecurity security;
    };
    const Case cases[] = {
        {"not XML", 0, "Welcome! <b>Mail</b> settings: imap.example.test", false, "not XML", {}},
        {"some other XML",
         0,
         "<html><body>Welcome</body></html>",
         false,
         "no mail configuration",
         {}},
        {"larger than 256 KiB", 0, huge, false, "larger than 262144 bytes", {}},
        {"four redirects", 4, good, false, "more than 3 redirects", {}},
        {"three redirects", 3, good, true, "", ConnectionSecurity::Tls},
        {"plain text beside TLS", 0,
         document(server("imap", "imap.example.test", 143, "plain") +
                  server("pop3", "pop.example.test", 995, "SSL")),
         true, "", ConnectionSecurity::Tls},
        {"plain text alone", 0, document(server("pop3", "pop.example.test", 110, "plain")), true,
         "", ConnectionSecurity::None},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpTestServer admin([&c](const std::string& request) {
            const std::string line = HttpTestServer::requestLine(request);
            // /r<n> redirects to /r<n+1> until the document's turn.
            int hop = 0;
            if (line.rfind("GET /r", 0) == 0)
                hop = line[6] - '0';
            if (hop < c.redirects)
                return HttpTestServer::answer("HTTP/1.1 302 Found",
                                              {"Location: /r" + std::to_string(hop + 1)}, "");
            return xml(c.body);
        });
        SettingsSearchOptions o = options(0);
        o.overrideUrl = "http://127.0.0.1:" + std::to_string(admin.port()) + "/r0";
        const SettingsSearchResult r = searchSettings(kAddress, o);
        ASSERT_EQ(r.found, c.found) << joined(r.reasons);
        if (c.found) {
            EXPECT_EQ(r.source, SettingsSource::OverrideUrl);
            EXPECT_EQ(r.server.security, c.security);
        } else {
            EXPECT_NE(joined(r.reasons).find("TARNWICK_AUTOCONFIG_URL: "), std::string::npos);
            EXPECT_NE(joined(r.reasons).find(c.reasonPart), std::string::npos) << joined(r.reasons);
        }
    }
}

TEST_F(SettingsSearchTest, ClearTextFromATrustedSourceGivesWayToEncryptionFromAnother) {
    HttpTestServer admin([](const std::string&) {
        return xml(document(server("pop3", "pop.example.test", 110, "plain")));
    });
    FakeDns dns;
    dns.srv["_imaps._tcp.example.test"] = {{0, 0, 993, "imap.example.test"}};
    SettingsSearchOptions o = options(0, dns);
    o.overrideUrl = "http://127.0.0.1:" + std::to_string(admin.port()) + "/";
    const SettingsSearchResult r = searchSettings(kAddress, o);
    ASSERT_TRUE(r.found) << joined(r.reasons);
    EXPECT_EQ(r.source, SettingsSource::DnsSrv);
    EXPECT_EQ(r.server.security, ConnectionSecurity::Tls);
}

// Stands in for a resolver that does not answer until the test ends.
struct StuckDns {
    std::shared_ptr<std::atomic<bool>> release = std::make_shared<std::atomic<bool>>(false);
    ~StuckDns() { *release = true; }
    DnsResolver resolver() const {
        auto wait = [release = release](const std::string&) {
            while (!*release)
                std::this_thread::sleep_for(10ms);
            return DnsAnswer{};
        };
        return DnsResolver{wait, wait};
    }
};

TEST_F(SettingsSearchTest, DeadlinesAndCancelBoundTheWait) {
    HttpTestServer::Reply silent;
    silent.silent = true;
    const std::string good = document(server("imap", "imap.example.test", 993, "SSL"));

    // The most trusted source is silent: its own deadline ends the wait for it, then the
    // next one's answer stands.
    {
        HttpTestServer quiet([&silent](const std::string&) { return silent; });
        HttpsSite site;
        site.serve("/mail/config-v1.1.xml", good);
        site.finish();
        SettingsSearchOptions o = options(site.port());
        o.overrideUrl = "http://127.0.0.1:" + std::to_string(quiet.port()) + "/";
        o.perSource = 1500ms;
        const auto start = std::chrono::steady_clock::now();
        const SettingsSearchResult r = searchSettings(kAddress, o);
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_TRUE(r.found) << joined(r.reasons);
        EXPECT_EQ(r.source, SettingsSource::AutoconfigHost);
        EXPECT_NE(joined(r.reasons).find("TARNWICK_AUTOCONFIG_URL: "), std::string::npos)
            << joined(r.reasons);
        EXPECT_GE(took, 1000ms);
        EXPECT_LT(took, 5s);
    }
    // The most trusted source answers: the stuck resolver behind it is not waited for.
    {
        HttpTestServer admin([&good](const std::string&) { return xml(good); });
        StuckDns stuck;
        SettingsSearchOptions o = options(0);
        o.dns = stuck.resolver();
        o.overrideUrl = "http://127.0.0.1:" + std::to_string(admin.port()) + "/";
        const auto start = std::chrono::steady_clock::now();
        const SettingsSearchResult r = searchSettings(kAddress, o);
        ASSERT_TRUE(r.found) << joined(r.reasons);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
    // Nothing answers within the deadlines: nothing found, each silent source said.
    {
        StuckDns stuck;
        SettingsSearchOptions o = options(0);
        o.dns = stuck.resolver();
        o.perSource = 500ms;
        const SettingsSearchResult r = searchSettings(kAddress, o);
        EXPECT_FALSE(r.found);
        EXPECT_NE(joined(r.reasons).find("DNS SRV records: no answer within 0.5 s"),
                  std::string::npos)
            << joined(r.reasons);
        EXPECT_NE(joined(r.reasons).find("known providers: no answer within 0.5 s"),
                  std::string::npos);
    }
    // Cancelling ends a search whose sources all hang.
    {
        HttpTestServer quiet([&silent](const std::string&) { return silent; });
        StuckDns stuck;
        SettingsSearchOptions o = options(0);
        o.dns = stuck.resolver();
        o.overrideUrl = "http://127.0.0.1:" + std::to_string(quiet.port()) + "/";
        o.perSource = 30s;
        o.total = 30s;
        std::atomic<bool> cancel{false};
        std::thread canceller([&cancel] {
            std::this_thread::sleep_for(200ms);
            cancel = true;
        });
        const auto start = std::chrono::steady_clock::now();
        const SettingsSearchResult r = searchSettings(kAddress, o, &cancel);
        canceller.join();
        EXPECT_TRUE(r.cancelled);
        EXPECT_FALSE(r.found);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    }
}

TEST_F(SettingsSearchTest, OnlyAddressesWithAUsableDomainAreSearched) {
    struct Case {
        const char* address;
        const char* domain;
    };
    const Case cases[] = {
        {"ann@Example.TEST", "example.test"},
        {"ann@example.test.", "example.test"},
        {"a@b@example.test", "example.test"},
        {"example.test", ""},
        {"@example.test", ""},
        {"ann@", ""},
        {"an n@example.test", ""},
        {"ann@localhost", ""},
        {"ann@exa..mple.test", ""},
        {"ann@example.test/x", ""},
        {"ann@bücher.test", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        EXPECT_EQ(emailDomain(c.address), c.domain);
    }
    // Nothing is asked for an address without a domain.
    bool asked = false;
    SettingsSearchOptions o;
    o.fetch = [&asked](const HttpRequest&) {
        asked = true;
        return HttpResponse{};
    };
    const SettingsSearchResult r = searchSettings("no address", o);
    EXPECT_FALSE(r.found);
    EXPECT_FALSE(asked);
    EXPECT_EQ(joined(r.reasons), "no address is not an e-mail address\n");
}

} // namespace
} // namespace tarn
