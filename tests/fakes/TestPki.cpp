#include "fakes/TestPki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "net/TlsFingerprint.h"

namespace tarn::test {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

void need(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("TestPki: ") + what + " failed");
}

KeyPtr newKey() {
    KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    need(key != nullptr, "key generation");
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    need(ext != nullptr, "extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

struct CertSpec {
    const char* commonName;
    const char* altNames; // nullptr for the CA
    long notBeforeDays;
    long notAfterDays;
};

// Signs with issuerKey as issuer (or as itself when issuer is null).
CertPtr makeCert(const CertSpec& spec, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey,
                 long serial) {
    CertPtr cert(X509_new(), X509_free);
    need(cert != nullptr, "X509_new");
    X509* x = cert.get();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_gmtime_adj(X509_getm_notBefore(x), spec.notBeforeDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(x), spec.notAfterDays * 86400);
    X509_set_pubkey(x, key);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Tarnwick tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(spec.commonName), -1, -1, 0);
    X509* signer = issuer ? issuer : x;
    X509_set_issuer_name(x, X509_get_subject_name(signer));
    addExtension(x, signer, NID_subject_key_identifier, "hash");
    addExtension(x, signer, NID_authority_key_identifier, "keyid:always");
    if (spec.altNames == nullptr) {
        addExtension(x, signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(x, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(x, signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(x, signer, NID_key_usage, "critical,digitalSignature");
        addExtension(x, signer, NID_ext_key_usage, "serverAuth");
        addExtension(x, signer, NID_subject_alt_name, spec.altNames);
    }
    need(X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256()) > 0, "signing");
    return cert;
}

void writePem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    need(f != nullptr, "opening a PEM file");
    const bool ok = cert ? PEM_write_X509(f, cert) == 1
                         : PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(f);
    need(ok, "writing PEM");
    // Read by the private Dovecot's processes too.
    ::chmod(path.c_str(), 0644);
}

TestPki::Pair writePair(const std::string& dir, const char* name, X509* cert, EVP_PKEY* key) {
    TestPki::Pair p{dir + "/" + name + ".crt", dir + "/" + name + ".key"};
    writePem(p.certFile, cert, nullptr);
    writePem(p.keyFile, nullptr, key);
    return p;
}

} // namespace

TestPki::TestPki() {
    char tmpl[] = "/tmp/tarn-pki-XXXXXX";
    need(::mkdtemp(tmpl) != nullptr, "mkdtemp");
    m_dir = tmpl;
    ::chmod(m_dir.c_str(), 0755);
    try {
        const char* local = "DNS:localhost,IP:127.0.0.1";
        KeyPtr caKey = newKey();
        CertPtr ca =
            makeCert({"Tarnwick Test CA", nullptr, -1, 30}, caKey.get(), nullptr, nullptr, 1);
        m_ca = writePair(m_dir, "ca", ca.get(), caKey.get());

        KeyPtr k1 = newKey();
        m_good = writePair(
            m_dir, "good",
            makeCert({"localhost", local, -1, 30}, k1.get(), ca.get(), caKey.get(), 2).get(),
            k1.get());
        KeyPtr k2 = newKey();
        m_otherName = writePair(m_dir, "other",
                                makeCert({"mail.other.test", "DNS:mail.other.test", -1, 30},
                                         k2.get(), ca.get(), caKey.get(), 3)
                                    .get(),
                                k2.get());
        KeyPtr k3 = newKey();
        m_expired = writePair(
            m_dir, "expired",
            makeCert({"localhost", local, -30, -1}, k3.get(), ca.get(), caKey.get(), 4).get(),
            k3.get());
        KeyPtr k4 = newKey();
        m_selfSigned = writePair(
            m_dir, "self",
            makeCert({"localhost", local, -1, 30}, k4.get(), nullptr, nullptr, 5).get(), k4.get());
    } catch (...) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        throw;
    }
}

const TestPki& TestPki::shared() {
    static const TestPki pki;
    static const bool trusted = (pki.trustInThisProcess(), true);
    (void)trusted;
    return pki;
}

TestPki::~TestPki() {
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string TestPki::fingerprint(const Pair& pair) {
    FILE* f = std::fopen(pair.certFile.c_str(), "r");
    need(f != nullptr, "opening a certificate");
    CertPtr cert(PEM_read_X509(f, nullptr, nullptr, nullptr), X509_free);
    std::fclose(f);
    need(cert != nullptr, "reading a certificate");
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    need(X509_digest(cert.get(), EVP_sha256(), md, &len) == 1, "digest");
    return displayFingerprint(std::string(reinterpret_cast<const char*>(md), len));
}

void TestPki::trustInThisProcess() const {
    ::setenv("SSL_CERT_FILE", m_ca.certFile.c_str(), 1);
    // Its own folder holds no hashed certificate names, so the system folder is not used.
    ::setenv("SSL_CERT_DIR", m_dir.c_str(), 1);
}

} // namespace tarn::test
