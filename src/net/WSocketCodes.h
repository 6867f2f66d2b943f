#pragma once
// The socket component's Windows-style numbers: the notification messages its
// hidden object receives, the event bits they carry, and the Windows Sockets
// error numbers it reports whatever the platform's own numbers are; with the
// functions that describe and map them (WSocketErrors.cpp).
#include <string>

namespace zorv {

// Notification message numbers (user-message base 1024).
constexpr int WM_ASYNCSELECT = 1025;         // socket event: handle, event bit, error
constexpr int WM_ASYNCGETHOSTBYNAME = 1026;  // host-by-name lookup done
constexpr int WM_ASYNCGETHOSTBYADDR = 1027;  // host-by-address lookup done
constexpr int WM_TRIGGER_DATA_AVAILABLE = 1044;  // line mode: deliver pending lines

// Socket event bits carried by WM_ASYNCSELECT.
constexpr int FD_READ = 1;
constexpr int FD_WRITE = 2;
constexpr int FD_OOB = 4;
constexpr int FD_ACCEPT = 8;
constexpr int FD_CONNECT = 16;
constexpr int FD_CLOSE = 32;

// Windows Sockets error numbers used by the component.
constexpr int WSAEINTR = 10004;
constexpr int WSAEBADF = 10009;
constexpr int WSAEINVAL = 10022;
constexpr int WSAEWOULDBLOCK = 10035;
constexpr int WSAEINPROGRESS = 10036;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAEADDRINUSE = 10048;
constexpr int WSAECONNRESET = 10054;
constexpr int WSAENOTCONN = 10057;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAECONNREFUSED = 10061;
constexpr int WSANOTINITIALISED = 10093;
constexpr int WSAHOST_NOT_FOUND = 11001;
constexpr int WSATRY_AGAIN = 11002;
constexpr int WSANO_RECOVERY = 11003;
constexpr int WSANO_DATA = 11004;

// The description of a Windows Sockets error number ("Socket is not connected").
std::string WSocketErrorDesc(int error);
// Maps a POSIX errno value to the Windows Sockets number reported for it.
int WSocketErrorFromErrno(int err);
// Maps a getaddrinfo/getnameinfo result to the Windows Sockets lookup number.
int WSocketErrorFromGai(int gaiError);
// The calling thread's last socket error (what the component reports).
int WSocketGetLastError();
void WSocketSetLastError(int error);


}  // namespace zorv
