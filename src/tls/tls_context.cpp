#include "tls/tls_context.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <mutex>

#include "library_options.h"

namespace vantiro::tls {

namespace {

std::atomic<int> g_initCount{0};

// The first error of the calling thread's queue as text (the queue is emptied).
std::string TakeErrorText(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  return code != 0 ? ErrorText(code) : std::string(fallback);
}

}  // namespace

void InitLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS |
                         PlatformInitOptions(),
                     nullptr);
    g_initCount.fetch_add(1);
  });
}

int LibraryInitCount() { return g_initCount.load(); }

void ReleaseThreadState() { OPENSSL_thread_stop(); }

void ReleaseLibrary() { OPENSSL_cleanup(); }

std::string ErrorText(unsigned long code) {
  char text[256] = {};
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string CurrentIssuer(x509_store_ctx_st* store) {
  char data[256] = {};
  X509* certificate = store != nullptr ? X509_STORE_CTX_get_current_cert(store) : nullptr;
  if (certificate != nullptr) X509_NAME_oneline(X509_get_issuer_name(certificate), data, sizeof data);
  return data;
}

ClientContext MakeClientContext(const std::string& caFile, VerifyCallback callback) {
  InitLibrary();
  ClientContext result;
  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (ctx == nullptr) {
    result.reason = TakeErrorText("no memory for a TLS context");
    return result;
  }
  Context owned(ctx, [](ssl_ctx_st* p) { SSL_CTX_free(p); });
  // Whatever the library's or the system's defaults say, nothing older than TLS 1.2.
  if (SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1) {
    result.reason = TakeErrorText("cannot set the lowest protocol version");
    return result;
  }
  if (caFile.empty()) {
    result.trust = Trust::NotConfigured;
    result.ctx = std::move(owned);
    return result;
  }
  if (SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
    // OpenSSL's first error names the cause (a system error for a missing file).
    result.trust = Trust::FileUnusable;
    result.reason = TakeErrorText("no certificate in the file");
    return result;
  }
  ERR_clear_error();
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, callback);
  result.trust = Trust::Verified;
  result.ctx = std::move(owned);
  return result;
}

}  // namespace vantiro::tls
