// Certificates made in-process for TLS tests, written as PEM files.
#pragma once

#include <string>

namespace testsupport {

// A CA (self-signed) and a certificate for "localhost" it signed, with its key.
struct TestPki {
  // Writes <dir>/<name>-ca.pem, <name>-server.pem and <name>-server.key; the CA's
  // subject is "/CN=<caName>".
  TestPki(const std::string& dir, const std::string& name, const std::string& caName);
  // Writes the three files at the paths given.
  TestPki(std::string ca, std::string cert, std::string key, const std::string& caName);
  std::string caFile, certFile, keyFile;
};

// A self-signed certificate of an issuer of its own (subject "/CN=<commonName>") and
// its key: one that no other CA vouches for.
void WriteSelfSigned(const std::string& certFile, const std::string& keyFile,
                     const std::string& commonName);

}  // namespace testsupport
