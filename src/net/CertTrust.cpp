#include "CertTrust.h"

#include <openssl/x509_vfy.h>

namespace zorv {

namespace {

std::string chainReason(long verifyResult) {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED: return "the certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID: return "the certificate is not valid yet";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT: return "the certificate is self-signed";
    // A chain that ends in a root of its own: the server's certificate itself
    // is signed by that authority, which is not trusted here.
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE: return "the certificate is not signed by a trusted authority";
    case X509_V_ERR_CERT_REVOKED: return "the certificate has been revoked";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH: return "the certificate is for another host";
    default: return std::string("the certificate could not be verified (") +
                    X509_verify_cert_error_string(verifyResult) + ")";
  }
}

}  // namespace

std::optional<std::string> NormalizeFingerprint(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  if (e - b != 64) return std::nullopt;
  std::string r;
  for (size_t i = b; i < e; ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return std::nullopt;
    r += c;
  }
  return r;
}

CertDecision DecideCertificate(long verifyResult, bool hostMatches, const std::string& fingerprint,
                               const std::optional<std::string>& pinned) {
  CertDecision d;
  d.Fingerprint = NormalizeFingerprint(fingerprint).value_or(fingerprint);
  const std::optional<std::string> pin = pinned ? NormalizeFingerprint(*pinned) : std::nullopt;
  if (pin) {
    if (*pin == d.Fingerprint) {
      d.Verdict = CertVerdict::Accept;
    } else {
      d.Verdict = CertVerdict::RefuseChanged;
      d.Reason = "the certificate has changed since it was trusted";
    }
    return d;
  }
  std::string reason;
  if (verifyResult != X509_V_OK) reason = chainReason(verifyResult);
  if (!hostMatches && verifyResult != X509_V_ERR_HOSTNAME_MISMATCH && verifyResult != X509_V_ERR_IP_ADDRESS_MISMATCH)
    reason += (reason.empty() ? "" : "; ") + std::string("the certificate is for another host");
  d.Verdict = reason.empty() ? CertVerdict::Accept : CertVerdict::Ask;
  d.Reason = reason;
  return d;
}

// An IPv6 literal is kept without brackets (a settings key cannot start with
// "["); the port is after the last colon.
std::string CertificateKey(const std::string& host, int port) {
  const bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  return (bracketed ? host.substr(1, host.size() - 2) : host) + ":" + std::to_string(port);
}

}  // namespace zorv
