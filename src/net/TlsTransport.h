#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/AccountSettings.h"
#include "net/LineConnection.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;
typedef struct bio_st BIO;

namespace tarn {

// The failure of a STARTTLS account whose server will not switch to TLS.
inline const std::string kNoStartTls = "server does not offer STARTTLS";

// Refuses, before anything is sent, a security value that is none of ConnectionSecurity and a
// pin that is not a SHA-256 fingerprint: neither may quietly mean "no verification".
void checkSecuritySettings(ConnectionSecurity security, std::string_view pin);

// What the certificate check saw, kept for the failure text.
struct TlsPeerCheck {
    std::string pin;                // canonical SHA-256 pin; empty: verify the chain
    std::string fingerprint;        // the server certificate's, for display
    std::vector<std::string> names; // names the certificate is for
    int error = 0;                  // first chain or name error (X509_V_ERR_*), 0 none
    bool pinMismatch = false;
};

// TLS (1.2 or newer, OpenSSL) over an open inner transport, which it uses but does not own:
// the same socket carries the plain STARTTLS dialogue first. The certificate is checked
// against the trust store at OpenSSL's default paths (so SSL_CERT_FILE and SSL_CERT_DIR work
// as everywhere) and the host name the user typed, or, when a pin is given, must be exactly
// the pinned certificate. The inner transport's time-outs bound every wait, the handshake's
// included; the encrypted bytes pass through memory buffers, so no byte the inner transport
// delivered before the handshake can be taken for a protected one.
class TlsTransport : public Transport {
public:
    // pin: a fingerprint as normalizeFingerprint accepts it, or empty. An unusable pin
    // throws at once: nothing turns verification off.
    TlsTransport(Transport& inner, std::string serverName, std::string_view pin = {});
    ~TlsTransport() override;
    TlsTransport(const TlsTransport&) = delete;
    TlsTransport& operator=(const TlsTransport&) = delete;

    // Runs the handshake; the whole of it must end within timeout. Throws TarnError with
    // "certificate verify failed: ...", "host name mismatch: ..." or "TLS handshake
    // failed: ...". The inner transport is closed after a failure.
    void handshake(std::chrono::milliseconds timeout);

    // Connects the inner transport, then runs the handshake within the same time-out.
    void connect(const std::string& host, int port, std::chrono::milliseconds timeout) override;
    std::size_t read(char* buf, std::size_t n, std::chrono::milliseconds timeout) override;
    void writeAll(std::string_view data, std::chrono::milliseconds timeout) override;
    // Sends close_notify (best effort) and closes the inner transport.
    void close() override;
    bool isOpen() const override;

    // After a handshake: the protocol ("TLSv1.3") and the server certificate's fingerprint.
    std::string protocol() const;
    const std::string& peerFingerprint() const { return m_check.fingerprint; }

private:
    using Deadline = std::chrono::steady_clock::time_point;
    // Sends what TLS has queued for the server.
    void flush(Deadline deadline, std::chrono::milliseconds full, const char* what);
    // Feeds one read of the inner transport to TLS; false when the server closed.
    bool receive(Deadline deadline, std::chrono::milliseconds full, const char* what);
    TarnError handshakeFailure(const std::string& reason) const;
    void release();

    Transport& m_inner;
    std::string m_serverName;
    std::shared_ptr<SSL_CTX> m_ctx;
    SSL* m_ssl = nullptr;
    BIO* m_in = nullptr;  // bytes from the server, owned by m_ssl
    BIO* m_out = nullptr; // bytes for the server, owned by m_ssl
    bool m_established = false;
    bool m_eof = false;
    TlsPeerCheck m_check;
};

} // namespace tarn
