// Makes the test certificate authority and the server certificates it signs, with libcrypto.
#include "transfer/test_certificates.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <functional>

namespace velmora::transfer::testing {
namespace {

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

bool AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
      X509V3_EXT_conf_nid(nullptr, &context, nid, const_cast<char*>(value)));
  return extension && X509_add_ext(cert, extension.get(), -1) == 1;
}

// A one-day certificate for `made.key` named `commonName`, issued by
// `issuer` (null: by itself).
bool MakeCertificate(KeyAndCertificate& made, const char* commonName, const KeyAndCertificate* issuer, long serial) {
  made.key.reset(EVP_EC_gen("P-256"));
  made.cert.reset(X509_new());
  if (!made.key || !made.cert) return false;
  X509* cert = made.cert.get();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
  X509_set_pubkey(cert, made.key.get());
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(commonName), -1, -1, 0);
  const KeyAndCertificate& signer = issuer != nullptr ? *issuer : made;
  X509_set_issuer_name(cert, X509_get_subject_name(signer.cert.get()));
  return AddExtension(cert, signer.cert.get(), NID_subject_key_identifier, "hash") &&
         AddExtension(cert, signer.cert.get(), NID_authority_key_identifier, "keyid");
}

std::string PemOf(const std::function<int(BIO*)>& write) {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get()) != 1) return {};
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

}  // namespace

std::string KeyAndCertificate::CertificatePem() const {
  return PemOf([this](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
}

std::string KeyAndCertificate::KeyPem() const {
  return PemOf([this](BIO* bio) {
    return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  });
}

TestAuthority::TestAuthority() {
  ok_ = MakeCertificate(own_, "Velmora Test Authority", nullptr, 1) &&
        AddExtension(own_.cert.get(), own_.cert.get(), NID_basic_constraints, "critical,CA:TRUE") &&
        AddExtension(own_.cert.get(), own_.cert.get(), NID_key_usage, "critical,keyCertSign,cRLSign") &&
        X509_sign(own_.cert.get(), own_.key.get(), EVP_sha256()) > 0;
}

bool TestAuthority::Issue(const char* altName, KeyAndCertificate* issued) const {
  return ok_ && MakeCertificate(*issued, "Velmora test server", &own_, 2) &&
         AddExtension(issued->cert.get(), own_.cert.get(), NID_subject_alt_name, altName) &&
         AddExtension(issued->cert.get(), own_.cert.get(), NID_ext_key_usage, "serverAuth") &&
         X509_sign(issued->cert.get(), own_.key.get(), EVP_sha256()) > 0;
}

}  // namespace velmora::transfer::testing
