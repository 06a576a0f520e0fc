#include "simcommon/cert_maker.h"

#include <memory>
#include <stdexcept>
#include <string>

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace simcommon {

namespace {

struct KeyFree { void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); } };
struct CertFree { void operator()(X509* p) const { X509_free(p); } };
struct BioFree { void operator()(BIO* p) const { BIO_free_all(p); } };
struct BnFree { void operator()(BIGNUM* p) const { BN_free(p); } };
struct ExtFree { void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); } };

using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

[[noreturn]] void Fail(const std::string& what) {
    std::string text = what;
    if (const unsigned long code = ERR_get_error(); code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        text += ": ";
        text += buffer;
    }
    ERR_clear_error();
    throw std::runtime_error(text);
}

Key MakeKey() {
    // EVP_EC_gen's macro casts the curve's name to a mutable string; the call it
    // stands for is made here with one.
    char curve[] = "P-256";
    Key key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve));
    if (!key) Fail("cannot make a key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtFree> ext(
        X509V3_EXT_conf_nid(nullptr, &ctx, nid, value));
    if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) {
        Fail(std::string("cannot add extension ") + OBJ_nid2sn(nid));
    }
}

// A certificate for `subject_cn` holding `key`, not yet signed; issuer set to
// `issuer` (or itself when null).
Cert NewCertificate(const std::string& owner, const std::string& subject_cn, EVP_PKEY* key,
                    X509* issuer) {
    Cert cert(X509_new());
    if (!cert || X509_set_version(cert.get(), 2) != 1) Fail("cannot make a certificate");

    std::unique_ptr<BIGNUM, BnFree> serial(BN_new());
    if (!serial || BN_rand(serial.get(), 63, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) != 1 ||
        !BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get()))) {
        Fail("cannot make a serial number");
    }
    // Valid from an hour ago (clock skew) for thirty days: long enough for any run.
    if (!X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) ||
        !X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600)) {
        Fail("cannot set the validity");
    }
    X509_NAME* name = X509_get_subject_name(cert.get());
    const auto* cn = reinterpret_cast<const unsigned char*>(subject_cn.c_str());
    if (X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>(owner.c_str()), -1, -1,
                                   0) != 1 ||
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, cn, -1, -1, 0) != 1) {
        Fail("cannot set the subject");
    }
    X509_NAME* issuer_name = issuer ? X509_get_subject_name(issuer) : name;
    if (X509_set_issuer_name(cert.get(), issuer_name) != 1 ||
        X509_set_pubkey(cert.get(), key) != 1) {
        Fail("cannot set the issuer or key");
    }
    return cert;
}

Cert MakeCa(const std::string& owner, const std::string& cn, EVP_PKEY* key) {
    Cert cert = NewCertificate(owner, cn, key, nullptr);
    AddExtension(cert.get(), cert.get(), NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), cert.get(), NID_subject_key_identifier, "hash");
    if (X509_sign(cert.get(), key, EVP_sha256()) == 0) Fail("cannot sign the CA certificate");
    return cert;
}

Cert MakeServer(const std::string& owner, EVP_PKEY* key, X509* ca, EVP_PKEY* ca_key) {
    Cert cert = NewCertificate(owner, "localhost", key, ca);
    AddExtension(cert.get(), ca, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), ca, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(cert.get(), ca, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), ca, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    AddExtension(cert.get(), ca, NID_subject_key_identifier, "hash");
    AddExtension(cert.get(), ca, NID_authority_key_identifier, "keyid:always");
    if (X509_sign(cert.get(), ca_key, EVP_sha256()) == 0) Fail("cannot sign the server certificate");
    return cert;
}

std::unique_ptr<BIO, BioFree> OpenForWriting(const std::filesystem::path& path) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new_file(path.c_str(), "w"));
    if (!bio) Fail("cannot write " + path.string());
    return bio;
}

void WriteCert(const std::filesystem::path& path, X509* cert) {
    auto bio = OpenForWriting(path);
    if (PEM_write_bio_X509(bio.get(), cert) != 1) Fail("cannot write " + path.string());
}

void WriteKey(const std::filesystem::path& path, EVP_PKEY* key) {
    auto bio = OpenForWriting(path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    if (PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        Fail("cannot write " + path.string());
    }
}

}  // namespace

CertificateFiles MakeCertificates(const std::filesystem::path& dir, const std::string& owner,
                                  bool foreign) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw std::runtime_error("cannot create " + dir.string() + ": " + ec.message());

    CertificateFiles files;
    files.ca = dir / "ca.pem";
    files.ca_key = dir / "ca.key";
    files.server_cert = dir / "server.pem";
    files.server_key = dir / "server.key";

    Key ca_key = MakeKey();
    Cert ca = MakeCa(owner, owner + " test CA", ca_key.get());
    WriteCert(files.ca, ca.get());
    WriteKey(files.ca_key, ca_key.get());
    files.signer = files.ca;

    Key signer_key;
    Cert signer;
    if (foreign) {
        signer_key = MakeKey();
        signer = MakeCa(owner, owner + " foreign CA", signer_key.get());
        files.signer = dir / "foreign-ca.pem";
        WriteCert(files.signer, signer.get());
        WriteKey(dir / "foreign-ca.key", signer_key.get());
    }

    Key server_key = MakeKey();
    Cert server = MakeServer(owner, server_key.get(), foreign ? signer.get() : ca.get(),
                             foreign ? signer_key.get() : ca_key.get());
    WriteCert(files.server_cert, server.get());
    WriteKey(files.server_key, server_key.get());
    return files;
}

}  // namespace simcommon
