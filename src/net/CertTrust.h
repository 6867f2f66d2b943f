#pragma once
// Whether a server's certificate is taken: a plain rule over what the TLS
// handshake learnt and what the user pinned for that server and port.
#include <optional>
#include <string>

namespace zorv {

enum class CertVerdict { Accept, Ask, RefuseChanged };

struct CertDecision {
  CertVerdict Verdict = CertVerdict::Ask;
  std::string Reason;       // why the user is asked or refused; empty on Accept
  std::string Fingerprint;  // the presented certificate's, 64 upper-case hex digits
};

// A stored fingerprint as 64 upper-case hex digits; nothing when the text is
// not 64 hex digits (blanks around it are ignored).
std::optional<std::string> NormalizeFingerprint(const std::string& text);

// verifyResult: the chain verification outcome (0 = verified); hostMatches:
// the certificate names the host; pinned: the stored value for host:port, if
// any. A valid pin decides alone: equal connects, different is refused.
CertDecision DecideCertificate(long verifyResult, bool hostMatches, const std::string& fingerprint,
                               const std::optional<std::string>& pinned);

// The [Certificates] key of a server: "<host>:<port>", an IPv6 literal without
// brackets ("::1:6697").
std::string CertificateKey(const std::string& host, int port);

}  // namespace zorv
