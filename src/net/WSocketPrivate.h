#pragma once
// Helpers shared by the socket component's source files; not part of its
// interface.
#include <QEvent>
#include <cstdint>
#include <string>

#include "WSocketBase.h"

namespace zorv::detail {

// Records errno as the thread's last socket error; returns -1 for chaining.
int setErrnoError();

// Leading and trailing characters of code 32 and below removed.
std::string trim(const std::string& s);
bool isDigit(char c);
// Leading blanks, then decimal digits up to the first non-digit; an empty
// digit run gives 0. Wraps silently like the 32-bit reader it stands for.
uint32_t readDigits(const std::string& s);
// An IPv4 address (network byte order) as dotted text.
std::string dotted(uint32_t addr);

// A message on its way to a socket's hidden notification object.
class TSocketEvent : public QEvent {
 public:
  explicit TSocketEvent(const TSocketMessage& m) : QEvent(TSocketWindow::EventTypeFor(m.Msg)), msg(m) {}
  TSocketMessage msg;
};

// Host lookups in flight, by request handle (see WSocketLookup.cpp).
void forgetLookup(int handle);

}  // namespace zorv::detail
