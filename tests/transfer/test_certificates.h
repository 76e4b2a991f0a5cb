// Certificates made at test time: a certificate authority of its own and server certificates it signs.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

namespace velmora::transfer::testing {

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertFree {
  void operator()(X509* cert) const { X509_free(cert); }
};
using KeyPointer = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPointer = std::unique_ptr<X509, CertFree>;

// A key and the certificate for it.
struct KeyAndCertificate {
  KeyPointer key;
  CertPointer cert;
  std::string CertificatePem() const;  // empty on failure
  std::string KeyPem() const;
};

// A one-day certificate authority that no system store knows.
class TestAuthority {
 public:
  TestAuthority();
  bool ok() const { return ok_; }
  // A one-day server certificate for `altName` ("IP:127.0.0.1",
  // "DNS:name") signed by this authority; false when it could not be made.
  bool Issue(const char* altName, KeyAndCertificate* issued) const;
  std::string CertificatePem() const { return own_.CertificatePem(); }

 private:
  KeyAndCertificate own_;
  bool ok_ = false;
};

}  // namespace velmora::transfer::testing
