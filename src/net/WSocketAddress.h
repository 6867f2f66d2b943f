#pragma once
// Addresses for the socket component: resolution of the Proto, Port and Addr
// texts, IPv4 and IPv6 literals, and the host look-up a connect runs.
#include <cstdint>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>

namespace zorv {

// with the resolution message.
int WSocketResolveProto(const std::string& proto);
int WSocketResolvePort(const std::string& port, const std::string& proto);
uint32_t WSocketResolveHost(const std::string& addr);  // IPv4 only, network byte order
// Addr as a socket address of either family, port 0: a dotted IPv4 address,
// an IPv6 literal ("::1", "2001:db8::1"), or a name (its IPv4 address when
// it has one, else its IPv6 address). Fails as WSocketResolveHost does.
sockaddr_storage WSocketResolveHostAddr(const std::string& addr);
// An IPv4 or IPv6 literal as a socket address (port 0); false for anything
// else, names included. Brackets are not part of a literal here.
bool WSocketParseLiteral(const std::string& text, sockaddr_storage& out);
// The address of a socket address as text: dotted IPv4, or the IPv6 literal
// without brackets; "" for another family.
std::string WSocketAddrText(const sockaddr_storage& a);
// The length of a socket address of the family it holds.
socklen_t WSocketAddrLen(const sockaddr_storage& a);

// A host look-up as the socket runs it, on a worker thread: the addresses of
// the name as literals, in the order of preference, or a Windows Sockets
// look-up error (11001...). Tests put in their own.
struct TLookupAnswer {
  int Error = 0;
  std::vector<std::string> Addrs;
};
using TResolver = std::function<TLookupAnswer(const std::string& host)>;
// getaddrinfo of both families (IPv6 and IPv4), in the resolver's order.
TLookupAnswer WSocketSystemResolve(const std::string& host);

// The addresses of a look-up in the order a dual-stack connect tries them:
// the families alternate, starting with the family of the first address.
std::vector<std::string> WSocketInterleave(const std::vector<std::string>& addrs);

}  // namespace zorv
