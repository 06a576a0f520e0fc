#include "testsupport/test_pki.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace testsupport {

namespace {

// A P-256 key. EVP_EC_gen would do, but its macro casts the curve's constness away,
// which clang's -Wcast-qual reports at every use.
EVP_PKEY* NewP256Key() {
  char curve[] = "P-256";
  return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curve);
}

X509* MakeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                      EVP_PKEY* issuerKey, bool isCa) {
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  static std::atomic<long> serial{1};
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
  X509_set_issuer_name(cert, issuer != nullptr ? X509_get_subject_name(issuer) : name);
  X509V3_CTX v3;
  X509V3_set_ctx(&v3, issuer != nullptr ? issuer : cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints,
                                            isCa ? "critical,CA:TRUE" : "CA:FALSE");
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
  X509_sign(cert, issuerKey != nullptr ? issuerKey : key, EVP_sha256());
  return cert;
}

void WritePem(const std::string& path, X509* cert, EVP_PKEY* key) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) throw std::runtime_error("cannot write " + path);
  if (cert != nullptr) PEM_write_X509(file, cert);
  if (key != nullptr) PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
  std::fclose(file);
}

}  // namespace

TestPki::TestPki(const std::string& dir, const std::string& name, const std::string& caName)
    : TestPki(dir + "/" + name + "-ca.pem", dir + "/" + name + "-server.pem",
              dir + "/" + name + "-server.key", caName) {}

TestPki::TestPki(std::string ca, std::string cert, std::string key, const std::string& caName)
    : caFile(std::move(ca)), certFile(std::move(cert)), keyFile(std::move(key)) {
  EVP_PKEY* caKey = NewP256Key();
  EVP_PKEY* serverKey = NewP256Key();
  X509* caCert = MakeCertificate(caKey, caName, nullptr, nullptr, true);
  X509* server = MakeCertificate(serverKey, "localhost", caCert, caKey, false);
  WritePem(caFile, caCert, nullptr);
  WritePem(certFile, server, nullptr);
  WritePem(keyFile, nullptr, serverKey);
  X509_free(server);
  X509_free(caCert);
  EVP_PKEY_free(serverKey);
  EVP_PKEY_free(caKey);
}

void WriteSelfSigned(const std::string& certFile, const std::string& keyFile,
                     const std::string& commonName) {
  EVP_PKEY* key = NewP256Key();
  X509* cert = MakeCertificate(key, commonName, nullptr, nullptr, true);
  WritePem(certFile, cert, nullptr);
  WritePem(keyFile, nullptr, key);
  X509_free(cert);
  EVP_PKEY_free(key);
}

}  // namespace testsupport
