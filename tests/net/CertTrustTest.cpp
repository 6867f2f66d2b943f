// The certificate decision rule over verify outcomes, host match and pins.
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>

#include "CertTrust.h"

using zorv::CertVerdict;

namespace {

const std::string kFp = "0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF";
const std::string kOther = "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF";

struct Row {
  const char* name;
  long verify;
  bool hostMatches;
  std::optional<std::string> pin;
  CertVerdict verdict;
  const char* reason;  // the reason text, exactly
};

TEST(CertDecision, Table) {
  std::string lower = kFp;
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  const Row rows[] = {
      {"verified, right host", X509_V_OK, true, std::nullopt, CertVerdict::Accept, ""},
      {"expired", X509_V_ERR_CERT_HAS_EXPIRED, true, std::nullopt, CertVerdict::Ask, "the certificate has expired"},
      {"self-signed", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, std::nullopt, CertVerdict::Ask,
       "the certificate is self-signed"},
      {"an untrusted root in the chain", X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN, true, std::nullopt, CertVerdict::Ask,
       "the certificate is not signed by a trusted authority"},
      {"unknown issuer", X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, true, std::nullopt, CertVerdict::Ask,
       "the certificate is not signed by a trusted authority"},
      {"verified, wrong host", X509_V_OK, false, std::nullopt, CertVerdict::Ask, "the certificate is for another host"},
      {"host mismatch from the verifier", X509_V_ERR_HOSTNAME_MISMATCH, false, std::nullopt, CertVerdict::Ask,
       "the certificate is for another host"},
      {"self-signed and wrong host", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, false, std::nullopt, CertVerdict::Ask,
       "the certificate is self-signed; the certificate is for another host"},
      {"other failure", X509_V_ERR_CERT_SIGNATURE_FAILURE, true, std::nullopt, CertVerdict::Ask,
       "the certificate could not be verified (certificate signature failure)"},
      {"pinned matches an untrusted one", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, false, kFp, CertVerdict::Accept, ""},
      {"pin in lower case", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, lower, CertVerdict::Accept, ""},
      {"pin with blanks around", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, " " + kFp + " ", CertVerdict::Accept,
       ""},
      {"pin differs", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, kOther, CertVerdict::RefuseChanged,
       "the certificate has changed since it was trusted"},
      {"pin differs though now trusted", X509_V_OK, true, kOther, CertVerdict::RefuseChanged,
       "the certificate has changed since it was trusted"},
      {"malformed pin is no pin", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, kFp.substr(1), CertVerdict::Ask,
       "the certificate is self-signed"},
      {"a pin not in hex is no pin", X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, true, "G" + kFp.substr(1),
       CertVerdict::Ask, "the certificate is self-signed"},
      {"empty pin is no pin", X509_V_OK, true, std::string(), CertVerdict::Accept, ""},
  };
  for (const Row& r : rows) {
    const zorv::CertDecision d = zorv::DecideCertificate(r.verify, r.hostMatches, kFp, r.pin);
    EXPECT_EQ(d.Verdict, r.verdict) << r.name;
    EXPECT_EQ(d.Reason, r.reason) << r.name;
    EXPECT_EQ(d.Fingerprint, kFp) << r.name;
  }
}

TEST(CertDecision, KeyIsHostColonPort) {
  EXPECT_EQ(zorv::CertificateKey("irc.libera.chat", 6697), "irc.libera.chat:6697");
  EXPECT_EQ(zorv::CertificateKey("::1", 6697), "::1:6697");
  EXPECT_EQ(zorv::CertificateKey("[2001:db8::1]", 6697), "2001:db8::1:6697");
}

}  // namespace
