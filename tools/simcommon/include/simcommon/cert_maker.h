// Throw-away certificates for a test run, made with OpenSSL: a CA and a server
// certificate for "localhost" and 127.0.0.1 signed by it. Shared by the emulators.
#pragma once

#include <filesystem>
#include <string>

namespace simcommon {

struct CertificateFiles {
    std::filesystem::path ca;           // ca.pem: the CA clients should trust
    std::filesystem::path ca_key;       // ca.key
    std::filesystem::path server_cert;  // server.pem
    std::filesystem::path server_key;   // server.key
    std::filesystem::path signer;       // the CA that signed server.pem (ca.pem unless foreign)
};

// Makes the files in `dir` (created when missing; files there are replaced). `owner`
// names the program in the certificates: organisation `owner`, CA "`owner` test CA".
// With `foreign`, the server certificate is signed by a second CA ("`owner` foreign
// CA"), written as foreign-ca.pem and foreign-ca.key, so that verifying against
// ca.pem fails. Throws std::runtime_error when a step fails.
CertificateFiles MakeCertificates(const std::filesystem::path& dir, const std::string& owner,
                                  bool foreign = false);

}  // namespace simcommon
