// The server side (listening, accepting, adopting an accepted descriptor),
// the datagram bind, and the address queries.
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "WSocketPrivate.h"

using namespace zorv;
using namespace zorv::detail;

// ---------------------------------------------------------------------------
// Listening

void TCustomWSocket::Listen() {
  if (!CheckListenable() || !ResolveFor("listen:")) return;
  const int fd = CreateSocket("socket");
  if (fd < 0) return;
  AdoptHandle(fd);
  if (!BindAndListen()) return;
  if (!AsyncSelect(FD_READ | FD_WRITE | FD_ACCEPT | FD_CLOSE)) {
    FailWith(WSAENOTSOCK, "WSAASyncSelect");
    return;
  }
  EnterListening();
}

bool TCustomWSocket::CheckListenable() {
  const std::pair<bool, const char*> required[] = {{portAssigned_, "listen: port not assigned"},
                                                   {protoAssigned_, "listen: protocol not assigned"},
                                                   {addrAssigned_, "listen: address not assigned"}};
  for (const auto& [assigned, failure] : required) {
    if (!assigned) {
      FailWith(WSAEINVAL, failure);
      return false;
    }
  }
  return true;
}

bool TCustomWSocket::BindAndListen() {
  if (::bind(hSocket_, reinterpret_cast<sockaddr*>(&sin_), WSocketAddrLen(sin_)) != 0) {
    FailErrno("Bind");
    return false;
  }
  if (type_ == SOCK_STREAM && ::listen(hSocket_, 5) != 0) {
    FailErrno("Listen");
    return false;
  }
  return true;
}

// Bound, then listening; a datagram socket is connected at once as well.
void TCustomWSocket::EnterListening() {
  const Watch w(this);
  ChangeState(wsBound);
  if (w.Gone()) return;
  ChangeState(wsListening);
  if (w.Gone()) return;
  if (type_ == SOCK_DGRAM) {
    EnterDatagramConnected();
    return;
  }
  UpdateNotifiers();
}

int TCustomWSocket::Accept() {
  if (state_ != wsListening) {
    FailWith(WSAEINVAL, "not a listening socket");
    return -1;
  }
  NoteReceiveCall();
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  const int fd = ::accept4(hSocket_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    FailErrno("Accept");
    return -1;
  }
  return fd;
}

// Adopts a descriptor that Accept gave (on this or another component) as a
// connected stream.
void TCustomWSocket::Dup(int newHSocket) {
  if (newHSocket <= 0) {
    FailWith(WSAEINVAL, "Dup");
    return;
  }
  if (hSocket_ >= 0) {
    const int old = DetachHandle();
    if (old != newHSocket && ::close(old) != 0 && errno != EINTR) {
      FailErrno("Dup (closesocket)");
      return;
    }
  }
  AdoptHandle(newHSocket);
  type_ = SOCK_STREAM;
  ::fcntl(newHSocket, F_SETFL, ::fcntl(newHSocket, F_GETFL) | O_NONBLOCK);
  const Watch w(this);
  SetLingerOption();
  if (w.Gone()) return;
  if (!AsyncSelect(FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE)) {
    FailWith(WSAENOTSOCK, "WSAAsyncSelect");
    return;
  }
  ChangeState(wsConnected);
}

void TCustomWSocket::BindSocket() {
  // Any local address of the remote address's family, a port the system chooses.
  sockaddr_storage local{};
  local.ss_family = sin_.ss_family;
  if (local.ss_family == AF_INET) reinterpret_cast<sockaddr_in&>(local).sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(hSocket_, reinterpret_cast<sockaddr*>(&local), WSocketAddrLen(local)) != 0) {
    RaiseException("winsock.bind failed, error #" + std::to_string(WSocketErrorFromErrno(errno)));
    return;
  }
  // The port the system chose is read back, as GetXPort does.
  socklen_t len = sizeof local;
  if (::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&local), &len) != 0)
    RaiseException("winsock.getsockname failed, error #" + std::to_string(WSocketErrorFromErrno(errno)));
}

// ---------------------------------------------------------------------------
// Addresses

std::string TCustomWSocket::GetPeerAddr() {
  if (state_ == wsConnected && hSocket_ >= 0) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    if (::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) == 0) return WSocketAddrText(a);
  }
  return "error";
}

int TCustomWSocket::GetPeerName(sockaddr_in& name, int& nameLen) {
  sockaddr_storage a{};
  const int r = GetPeerName(a, nameLen);
  if (r == 0) std::memcpy(&name, &a, sizeof name);
  return r;
}

int TCustomWSocket::GetPeerName(sockaddr_storage& name, int& nameLen) {
  if (state_ != wsConnected) return -1;
  socklen_t len = sizeof name;
  if (::getpeername(hSocket_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
    FailErrno("GetPeerName");
    return -1;
  }
  nameLen = static_cast<int>(len);
  return 0;
}

std::string TCustomWSocket::GetXPort() {
  if ((state_ == wsBound || state_ == wsConnected || state_ == wsListening) && hSocket_ >= 0) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    // The port sits at the same place in both families' addresses.
    if (::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
      return std::to_string(ntohs(reinterpret_cast<sockaddr_in&>(a).sin_port));
  }
  return "error";
}

int TCustomWSocket::GetSockName(sockaddr_in& name, int& nameLen) {
  sockaddr_storage a{};
  const int r = GetSockName(a, nameLen);
  if (r == 0) std::memcpy(&name, &a, sizeof name);
  return r;
}

int TCustomWSocket::GetSockName(sockaddr_storage& name, int& nameLen) {
  socklen_t len = sizeof name;
  if (hSocket_ < 0 || ::getsockname(hSocket_, reinterpret_cast<sockaddr*>(&name), &len) != 0) {
    if (hSocket_ < 0) errno = EBADF;
    setErrnoError();
    return -1;
  }
  nameLen = static_cast<int>(len);
  return 0;
}
