// The TLS library's process-wide set-up and the client contexts made from it.
//
// OpenSSL is initialised once per process, whichever thread asks first. A client
// context always refuses protocols older than TLS 1.2. Its trust comes from a CA
// file: with one, the peer's certificate must chain to it; with none configured (an
// empty path) the peer is not verified, which deployments without a CA rely on; a
// path that names a file which cannot be used yields no context at all, so that a
// configured trust is never silently dropped.
//
// Contexts are shared (std::shared_ptr): an attempt keeps its own reference while
// another thread may let go of the owner's.
#pragma once

#include <memory>
#include <string>

struct ssl_ctx_st;
struct x509_store_ctx_st;

namespace vantiro::tls {

// Initialises the library (error strings included) once per process; safe to call
// from any thread, any number of times.
void InitLibrary();
// How many times InitLibrary did the initialisation (diagnostics: at most 1).
int LibraryInitCount();

// Frees the library's state of the calling thread (error queue, random
// generators), which would otherwise wait for the thread's exit.
void ReleaseThreadState();

// Frees the library's state for good, for a module that holds the library and is
// unloaded while the process goes on; no TLS call may follow.
void ReleaseLibrary();

// The text of an OpenSSL error code, as ERR_error_string gives it.
std::string ErrorText(unsigned long code);

// The issuer of the certificate that a verification store is looking at, as one
// line of at most 255 characters (empty when there is none).
std::string CurrentIssuer(x509_store_ctx_st* store);

// Called for each certificate checked; returns the verdict to keep.
using VerifyCallback = int (*)(int preverifyOk, x509_store_ctx_st* store);

using Context = std::shared_ptr<ssl_ctx_st>;

enum class Trust {
  Verified,        // the CA file was loaded: the peer is verified against it
  NotConfigured,   // no CA file named: the peer is not verified
  FileUnusable,    // a CA file is named but cannot be loaded: no context
  NoContext,       // the library could not make a context
};

struct ClientContext {
  Context ctx;         // null for FileUnusable and NoContext
  Trust trust = Trust::NoContext;
  std::string reason;  // why the file could not be used, or the context not made
};

// A client context with TLS 1.2 as its lowest version. caFile is a local path;
// callback (may be null) is installed with peer verification when the file loads.
ClientContext MakeClientContext(const std::string& caFile, VerifyCallback callback);

}  // namespace vantiro::tls
