#include "mailproto/AutoconfigDocument.h"

#include <gtest/gtest.h>

namespace tarn {
namespace {

std::string server(const char* type, const char* host, const char* port, const char* socket,
                   const char* user = "%EMAILADDRESS%") {
    return std::string("<incomingServer type=\"") + type + "\"><hostname>" + host +
           "</hostname><port>" + port + "</port><socketType>" + socket + "</socketType><username>" +
           user + "</username><authentication>password-cleartext</authentication></incomingServer>";
}

std::string document(const std::string& servers) {
    return "<?xml version=\"1.0\"?>\n<clientConfig version=\"1.1\"><emailProvider "
           "id=\"example.org\"><domain>example.org</domain>" +
           servers + "</emailProvider></clientConfig>";
}

TEST(AutoconfigDocumentTest, ServersAreReadFilledInAndRankedSafestFirst) {
    const AutoconfigResult r = parseAutoconfig(
        document(server("pop3", "pop.example.org", "995", "SSL", "%EMAILLOCALPART%") +
                 server("imap", "IMAP.example.org", "143", "STARTTLS") +
                 server("imap", "imap.example.org", "993", "SSL") +
                 server("pop3", "pop.example.org", "110", "plain")),
        "ann@example.org");
    ASSERT_TRUE(r.valid) << r.error;
    ASSERT_EQ(r.servers.size(), 3u) << "the plain-text server is dropped beside encrypted ones";
    EXPECT_EQ(r.servers[0].kind, MailServerKind::Imap4);
    EXPECT_EQ(r.servers[0].security, ConnectionSecurity::Tls);
    EXPECT_EQ(r.servers[0].port, 993);
    EXPECT_EQ(r.servers[0].username, "ann@example.org");
    EXPECT_EQ(r.servers[1].security, ConnectionSecurity::StartTls);
    EXPECT_EQ(r.servers[1].host, "imap.example.org");
    EXPECT_EQ(r.servers[2].kind, MailServerKind::Pop3);
    EXPECT_EQ(r.servers[2].username, "ann");

    // Clear text is offered only when nothing else is.
    const AutoconfigResult plain =
        parseAutoconfig(document(server("pop3", "pop.example.org", "110", "plain")), "a@b");
    ASSERT_EQ(plain.servers.size(), 1u);
    EXPECT_EQ(plain.servers[0].security, ConnectionSecurity::None);
}

TEST(AutoconfigDocumentTest, BadDocumentsAreRefusedAndBadEntriesLeftOut) {
    struct Case {
        const char* what;
        std::string xml;
        bool valid;
        std::size_t servers;
    };
    const Case cases[] = {
        {"not XML", "{\"imap\": \"imap.example.org\"}", false, 0},
        {"HTML page", "<html><body>Not found</body></html>", false, 0},
        {"unclosed", document(server("imap", "h.example.org", "993", "SSL")).substr(0, 120), false,
         0},
        {"mismatched", "<clientConfig><emailProvider></clientConfig></emailProvider>", false, 0},
        {"entities", "<!DOCTYPE c [<!ENTITY x \"y\">]><clientConfig>&x;</clientConfig>", false, 0},
        {"unknown entity", document("<x>&nbsp;</x>"), false, 0},
        {"huge", document(std::string(300 * 1024, ' ')), false, 0},
        {"two roots", document("") + "<clientConfig/>", false, 0},
        {"bad port", document(server("imap", "h.example.org", "99999", "SSL")), true, 0},
        {"port no number", document(server("imap", "h.example.org", "993x", "SSL")), true, 0},
        {"unknown type", document(server("exchange", "h.example.org", "443", "SSL")), true, 0},
        {"unknown socket", document(server("imap", "h.example.org", "993", "magic")), true, 0},
        {"host with spaces", document(server("imap", "h example", "993", "SSL")), true, 0},
        {"good beside bad",
         document(server("imap", "h.example.org", "0", "SSL") +
                  server("imap", "i.example.org", "993", "SSL")),
         true, 1},
        {"comment and CDATA",
         document("<!-- note --><incomingServer type=\"imap\"><hostname><![CDATA[c.example.org]]>"
                  "</hostname><port>993</port><socketType>SSL</socketType></incomingServer>"),
         true, 1},
    };
    for (const Case& c : cases) {
        const AutoconfigResult r = parseAutoconfig(c.xml, "ann@example.org");
        EXPECT_EQ(r.valid, c.valid) << c.what << " " << r.error;
        EXPECT_EQ(r.servers.size(), c.servers) << c.what;
        if (!c.valid) {
            EXPECT_FALSE(r.error.empty()) << c.what;
        }
    }
}

TEST(AutoconfigDocumentTest, KnownProvidersByDomainOrMxHostSignInWithOAuth) {
    struct Case {
        const char* name;
        const char* host; // null: not known
    };
    const Case cases[] = {
        {"gmail.com", "imap.gmail.com"},
        {"aspmx.l.google.com.", "imap.gmail.com"},
        {"outlook.com", "outlook.office365.com"},
        {"example-org.mail.protection.outlook.com", "outlook.office365.com"},
        {"google.com.evil.example", nullptr},
        {"notgmail.com", nullptr},
        {"example.org", nullptr},
    };
    for (const Case& c : cases) {
        const std::optional<FoundServer> s = knownProvider(c.name, "ann@x.org");
        ASSERT_EQ(s.has_value(), c.host != nullptr) << c.name;
        if (!s)
            continue;
        EXPECT_EQ(s->host, c.host);
        EXPECT_EQ(s->port, 993);
        EXPECT_EQ(s->security, ConnectionSecurity::Tls);
        EXPECT_EQ(s->authentication, "OAuth2");
        EXPECT_EQ(s->username, "ann@x.org");
    }
}

} // namespace
} // namespace tarn
