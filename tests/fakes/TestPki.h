#pragma once

#include <string>

namespace tarn::test {

// Certificates made at test time in a temporary folder (removed again): a test CA and server
// certificates signed by it or by themselves. Keys are P-256, so making them is quick.
//
//   const TestPki& pki = TestPki::shared(); // trusted through SSL_CERT_FILE in this program
//   server.setTls(pki.good().certFile, pki.good().keyFile, ...);
//   EXPECT_EQ(..., TestPki::fingerprint(pki.selfSigned()));
class TestPki {
public:
    struct Pair {
        std::string certFile; // PEM
        std::string keyFile;  // PEM, unencrypted
    };

    TestPki();
    ~TestPki();
    // One set for the whole test program, made and trusted (trustInThisProcess) on first use
    // and removed at exit: a second CA trusted later would make the first one's certificates
    // fail.
    static const TestPki& shared();
    TestPki(const TestPki&) = delete;
    TestPki& operator=(const TestPki&) = delete;

    const std::string& dir() const { return m_dir; }
    const std::string& caFile() const { return m_ca.certFile; }
    // For 127.0.0.1 and localhost, signed by the CA, valid now.
    const Pair& good() const { return m_good; }
    // Signed by the CA for mail.other.test only.
    const Pair& otherName() const { return m_otherName; }
    // For 127.0.0.1 and localhost, signed by the CA, expired yesterday.
    const Pair& expired() const { return m_expired; }
    // For 127.0.0.1 and localhost, signed by itself.
    const Pair& selfSigned() const { return m_selfSigned; }

    // SHA-256 of the certificate in the file, as "AB:CD:...".
    static std::string fingerprint(const Pair& pair);
    // Points SSL_CERT_FILE at the CA and SSL_CERT_DIR at a folder without certificates in
    // this process (and what it starts), so the system's trust store plays no part. Call
    // before starting threads.
    void trustInThisProcess() const;

private:
    std::string m_dir;
    Pair m_ca, m_good, m_otherName, m_expired, m_selfSigned;
};

} // namespace tarn::test
