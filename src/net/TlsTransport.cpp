#include "net/TlsTransport.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "net/TlsFingerprint.h"

namespace tarn {

namespace {

using Clock = std::chrono::steady_clock;

std::string envText(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The reason of the last OpenSSL error on this thread ("wrong version number"), or fallback.
std::string lastOpensslReason(const std::string& fallback) {
    unsigned long code = 0;
    unsigned long last = 0;
    while ((code = ERR_get_error()) != 0)
        last = code;
    if (last == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(last);
    if (reason != nullptr)
        return reason;
    char buf[256];
    ERR_error_string_n(last, buf, sizeof buf);
    return buf;
}

std::string sha256Of(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (X509_digest(cert, EVP_sha256(), md, &len) != 1)
        return {};
    return std::string(reinterpret_cast<const char*>(md), len);
}

std::string hexLower(const std::string& bytes) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 0xF];
    }
    return out;
}

// The names a certificate is for: its DNS and IP subject alternative names, or its common
// name when it has none.
std::vector<std::string> certificateNames(X509* cert) {
    std::vector<std::string> names;
    auto* alt =
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
    if (alt != nullptr) {
        for (int i = 0; i < sk_GENERAL_NAME_num(alt); ++i) {
            const GENERAL_NAME* gn = sk_GENERAL_NAME_value(alt, i);
            if (gn->type == GEN_DNS) {
                const ASN1_STRING* s = gn->d.dNSName;
                names.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                                   static_cast<std::size_t>(ASN1_STRING_length(s)));
            } else if (gn->type == GEN_IPADD) {
                const ASN1_OCTET_STRING* s = gn->d.iPAddress;
                char text[INET6_ADDRSTRLEN] = "";
                const int family = ASN1_STRING_length(s) == 4 ? AF_INET : AF_INET6;
                if (ASN1_STRING_length(s) == 4 || ASN1_STRING_length(s) == 16)
                    ::inet_ntop(family, ASN1_STRING_get0_data(s), text, sizeof text);
                names.emplace_back(text);
            }
        }
        GENERAL_NAMES_free(alt);
    }
    if (names.empty()) {
        char cn[256] = "";
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, cn, sizeof cn) >
            0)
            names.emplace_back(cn);
    }
    return names;
}

int peerCheckIndex() {
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Runs for every certificate of the chain and for every error OpenSSL finds. With a pin the
// chain and the names do not count: the server's own certificate must be the pinned one.
// Without one OpenSSL's verdict stands; the first error is kept for the failure text.
int verifyPeer(int preverifyOk, X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* check =
        ssl ? static_cast<TlsPeerCheck*>(SSL_get_ex_data(ssl, peerCheckIndex())) : nullptr;
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (check == nullptr || leaf == nullptr)
        return 0;
    const std::string digest = sha256Of(leaf);
    if (check->fingerprint.empty()) {
        check->fingerprint = displayFingerprint(digest);
        check->names = certificateNames(leaf);
    }
    if (!check->pin.empty()) {
        const bool match = !digest.empty() && hexLower(digest) == check->pin;
        check->pinMismatch = !match;
        return match ? 1 : 0;
    }
    if (!preverifyOk && check->error == X509_V_OK)
        check->error = X509_STORE_CTX_get_error(store);
    return preverifyOk;
}

// One client context per trust-store location, shared by all connections: loading the
// system's trust store costs more than a handshake. SSL_CERT_FILE and SSL_CERT_DIR are read
// when the context is made; a change of either makes a new one.
std::shared_ptr<SSL_CTX> clientContext() {
    static std::mutex mutex;
    static std::string madeFor;
    static std::shared_ptr<SSL_CTX> shared;
    const std::string key = envText("SSL_CERT_FILE") + '\n' + envText("SSL_CERT_DIR");
    std::lock_guard lock(mutex);
    if (shared && madeFor == key)
        return shared;
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (ctx == nullptr)
        throw TarnError(ErrorKind::TlsError,
                        "TLS is not available: " + lastOpensslReason("no context"));
    std::shared_ptr<SSL_CTX> made(ctx, SSL_CTX_free);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    // A server that ends without close_notify after its last reply is common and harmless
    // here: every protocol answer has its own end marker.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, verifyPeer);
    // Without a trust store every chain fails to verify, which is the safe outcome.
    if (SSL_CTX_set_default_verify_paths(ctx) != 1)
        ERR_clear_error();
    shared = std::move(made);
    madeFor = key;
    return shared;
}

bool isIpAddress(const std::string& host) {
    unsigned char buf[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

std::chrono::milliseconds left(Clock::time_point deadline) {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

std::string joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names)
        out += (out.empty() ? "" : ", ") + n;
    return out.empty() ? "no name" : out;
}

const char* const kBadPin =
    "The TLS fingerprint setting is not a SHA-256 fingerprint (64 hex digits, colons allowed).";

} // namespace

void checkSecuritySettings(ConnectionSecurity security, std::string_view pin) {
    switch (security) {
    case ConnectionSecurity::None:
    case ConnectionSecurity::Tls:
    case ConnectionSecurity::StartTls:
        break;
    default:
        throw TarnError(ErrorKind::LocalError, "Unknown Security setting " +
                                                   std::to_string(static_cast<int>(security)) +
                                                   " (0 none, 1 SSL/TLS, 2 STARTTLS).");
    }
    if (security != ConnectionSecurity::None && !pin.empty() && !normalizeFingerprint(pin))
        throw TarnError(ErrorKind::LocalError, kBadPin);
}

TlsTransport::TlsTransport(Transport& inner, std::string serverName, std::string_view pin)
    : m_inner(inner), m_serverName(std::move(serverName)) {
    if (!pin.empty()) {
        const std::optional<std::string> canonical = normalizeFingerprint(pin);
        if (!canonical)
            throw TarnError(ErrorKind::LocalError, kBadPin);
        m_check.pin = *canonical;
    }
}

TlsTransport::~TlsTransport() {
    release();
}

void TlsTransport::release() {
    if (m_ssl != nullptr)
        SSL_free(m_ssl); // frees both memory buffers
    m_ssl = nullptr;
    m_in = m_out = nullptr;
    m_established = false;
}

void TlsTransport::connect(const std::string& host, int port, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    m_inner.connect(host, port, timeout);
    handshake(std::max(left(deadline), std::chrono::milliseconds(1)));
}

void TlsTransport::flush(Deadline deadline, std::chrono::milliseconds full, const char* what) {
    char chunk[16384];
    while (BIO_ctrl_pending(m_out) > 0) {
        const int n = BIO_read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return;
        const auto remaining = left(deadline);
        if (remaining.count() == 0)
            throw TarnError(std::string(what) + " timed out after " + std::to_string(full.count()) +
                            " ms.");
        m_inner.writeAll(std::string_view(chunk, static_cast<std::size_t>(n)), remaining);
    }
}

bool TlsTransport::receive(Deadline deadline, std::chrono::milliseconds full, const char* what) {
    const auto remaining = left(deadline);
    if (remaining.count() == 0)
        throw TarnError(ErrorKind::TimedOut, std::string(what) + " timed out after " +
                                                 std::to_string(full.count()) + " ms.");
    char chunk[16384];
    const std::size_t got = m_inner.read(chunk, sizeof chunk, remaining);
    if (got == 0)
        return false;
    BIO_write(m_in, chunk, static_cast<int>(got));
    return true;
}

TarnError TlsTransport::handshakeFailure(const std::string& reason) const {
    const std::string fp =
        m_check.fingerprint.empty() ? "" : " (SHA-256 fingerprint " + m_check.fingerprint + ")";
    const ErrorKind cert = ErrorKind::CertificateError;
    if (m_check.pinMismatch)
        return TarnError(
            cert, "certificate verify failed: the server's certificate is not the pinned one" + fp);
    if (m_check.error == X509_V_ERR_HOSTNAME_MISMATCH ||
        m_check.error == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return TarnError(cert, "host name mismatch: the certificate is for " +
                                   joined(m_check.names) + ", not " + m_serverName + fp);
    if (m_check.error != X509_V_OK)
        return TarnError(cert, std::string("certificate verify failed: ") +
                                   X509_verify_cert_error_string(m_check.error) + fp);
    return TarnError(ErrorKind::TlsError, "TLS handshake failed: " + reason);
}

void TlsTransport::handshake(std::chrono::milliseconds timeout) {
    if (!m_inner.isOpen())
        throw TarnError(ErrorKind::NotConnected, "Not Connected.");
    const auto deadline = Clock::now() + timeout;
    release();
    m_check = TlsPeerCheck{m_check.pin, {}, {}, 0, false};
    m_eof = false;
    m_ctx = clientContext();
    ERR_clear_error();
    m_ssl = SSL_new(m_ctx.get());
    m_in = BIO_new(BIO_s_mem());
    m_out = BIO_new(BIO_s_mem());
    if (m_ssl == nullptr || m_in == nullptr || m_out == nullptr) {
        BIO_free(m_in);
        BIO_free(m_out);
        m_in = m_out = nullptr;
        release();
        m_inner.close();
        throw TarnError(ErrorKind::TlsError,
                        "TLS handshake failed: " + lastOpensslReason("out of memory"));
    }
    // An empty input buffer means "wait for more", not the end of the stream.
    BIO_set_mem_eof_return(m_in, -1);
    SSL_set_bio(m_ssl, m_in, m_out);
    SSL_set_ex_data(m_ssl, peerCheckIndex(), &m_check);
    X509_VERIFY_PARAM* param = SSL_get0_param(m_ssl);
    X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    if (isIpAddress(m_serverName)) {
        X509_VERIFY_PARAM_set1_ip_asc(param, m_serverName.c_str());
    } else {
        SSL_set_tlsext_host_name(m_ssl, m_serverName.c_str());
        SSL_set1_host(m_ssl, m_serverName.c_str());
    }

    try {
        for (;;) {
            const int rc = SSL_connect(m_ssl);
            const int err = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, rc);
            if (rc == 1) {
                flush(deadline, timeout, "TLS handshake");
                break;
            }
            if (err == SSL_ERROR_WANT_READ) {
                flush(deadline, timeout, "TLS handshake");
                if (!receive(deadline, timeout, "TLS handshake"))
                    throw handshakeFailure("the server closed the connection.");
                continue;
            }
            const std::string reason = lastOpensslReason("unknown error");
            // Tell the server why (an alert is queued); it may be gone already.
            try {
                flush(deadline, timeout, "TLS handshake");
            } catch (const TarnError&) {
            }
            throw handshakeFailure(reason);
        }
    } catch (const TarnError& e) {
        release();
        m_inner.close();
        if (e.kind() == ErrorKind::TimedOut)
            throw TarnError(ErrorKind::TimedOut, "TLS handshake timed out after " +
                                                     std::to_string(timeout.count()) + " ms.");
        throw;
    } catch (...) {
        release();
        m_inner.close();
        throw;
    }
    m_established = true;
}

std::size_t TlsTransport::read(char* buf, std::size_t n, std::chrono::milliseconds timeout) {
    if (!isOpen())
        throw TarnError(ErrorKind::NotConnected, "Not Connected.");
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        std::size_t got = 0;
        ERR_clear_error();
        const int rc = SSL_read_ex(m_ssl, buf, n, &got);
        if (rc == 1)
            return got;
        const int err = SSL_get_error(m_ssl, rc);
        if (err == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (err == SSL_ERROR_WANT_READ) {
            if (m_eof)
                return 0;
            // Session tickets and key updates can want an answer.
            flush(deadline, timeout, "Read");
            if (!receive(deadline, timeout, "Read")) {
                m_eof = true;
                BIO_set_mem_eof_return(m_in, 0);
            }
            continue;
        }
        throw TarnError(ErrorKind::TlsError,
                        "TLS read failed: " + lastOpensslReason("unknown error"));
    }
}

void TlsTransport::writeAll(std::string_view data, std::chrono::milliseconds timeout) {
    if (!isOpen())
        throw TarnError(ErrorKind::NotConnected, "Not Connected.");
    const auto deadline = Clock::now() + timeout;
    while (!data.empty()) {
        std::size_t written = 0;
        ERR_clear_error();
        const int rc = SSL_write_ex(m_ssl, data.data(), data.size(), &written);
        if (rc == 1) {
            data.remove_prefix(written);
            flush(deadline, timeout, "Write");
            continue;
        }
        if (SSL_get_error(m_ssl, rc) == SSL_ERROR_WANT_READ && !m_eof) {
            if (!receive(deadline, timeout, "Write"))
                m_eof = true;
            continue;
        }
        throw TarnError(ErrorKind::TlsError,
                        "TLS write failed: " + lastOpensslReason("unknown error"));
    }
}

void TlsTransport::close() {
    if (m_established && m_inner.isOpen()) {
        ERR_clear_error();
        SSL_shutdown(m_ssl);
        try {
            flush(Clock::now() + std::chrono::milliseconds(1000), std::chrono::milliseconds(1000),
                  "Write");
        } catch (const TarnError&) {
            // Closing anyway.
        }
    }
    release();
    m_inner.close();
}

bool TlsTransport::isOpen() const {
    return m_established && m_inner.isOpen();
}

std::string TlsTransport::protocol() const {
    return m_ssl ? SSL_get_version(m_ssl) : "";
}

} // namespace tarn
