#include "Inbound.h"

#include <cstring>

#include "Caps.h"

namespace zorv {

namespace {

// Splits rest ("COMMAND params") into the command, the parameters and their words.
void SplitCommand(std::string_view rest, InboundLine& l) {
  constexpr auto npos = std::string_view::npos;
  const auto blank2 = rest.find(' ');
  if (blank2 != npos) {
    l.command = rest.substr(0, blank2);
    l.params = rest.substr(blank2 + 1);
    if (!l.params.empty() && l.params.front() == ':') l.params.remove_prefix(1);
  } else {
    l.command = rest;
  }
  if (!l.params.empty()) {
    l.start[l.words++] = 0;
    for (size_t b = 0; l.words < InboundLine::kMaxWords && (b = l.params.find(' ', b)) != npos;)
      l.start[l.words++] = static_cast<std::uint32_t>(++b);
  }
}

}  // namespace

bool ParseInboundLine(std::string_view raw, InboundLine* out) {
  constexpr auto npos = std::string_view::npos;
  InboundLine& l = *out;
  l = {};
  l.text = trimControls(raw);
  if (l.text.empty()) return false;

  std::string_view rest = l.text;
  const auto blank = l.text.find(' ');
  if (blank != npos) {
    const size_t from = l.text.front() == ':' ? 1 : 0;
    l.source = l.text.substr(from, blank - from);
    rest = l.text.substr(blank + 1);
  }
  SplitCommand(rest, l);
  const auto bang = l.source.find('!');
  if (bang != npos) {
    l.nick = l.source.substr(0, bang);
    l.userAddress = l.source.substr(bang + 1);
  } else {
    l.nick = l.source;
    l.userAddress = l.source;
  }
  return true;
}

std::string_view SplitTags(std::string_view& raw) {
  if (raw.empty() || raw.front() != '@') return {};
  const auto blank = raw.find(' ');
  const std::string_view tags = raw.substr(1, blank == std::string_view::npos ? raw.size() : blank - 1);
  raw = blank == std::string_view::npos ? std::string_view() : raw.substr(blank + 1);
  while (!raw.empty() && raw.front() == ' ') raw.remove_prefix(1);
  return tags.size() <= kMaxTagBytes ? tags : std::string_view();
}

bool ParseSourcelessLine(std::string_view raw, InboundLine* out) {
  InboundLine& l = *out;
  l = {};
  l.text = trimControls(raw);
  if (l.text.empty()) return false;
  SplitCommand(l.text, l);
  return true;
}

}  // namespace zorv

InboundEngine::InboundEngine(Frame& frame) : dispatch_(frame) { LineBuf[0] = '\0'; }

void InboundEngine::Reset() {
  ResetLineBuffer();
  dispatch_.Reset();
}

void InboundEngine::Register(std::string_view nick) { dispatch_.caps.Open(dispatch_, nick); }

int InboundEngine::Size() const {
  return dispatch_.caps.Has(zorv::kMessageTags) ? kTaggedBufferSize : kBufferSize;
}

void InboundEngine::ResetLineBuffer() {
  LineLen = 0;
  LineBuf[0] = '\0';
  skipping_ = false;
  interrupted_ = false;
}

void InboundEngine::DataAvailable(const std::function<int(char* buf, int room)>& receive) {
  if (busy_) return;
  // Complete lines left behind by a Frame operation that threw come first.
  if (interrupted_) {
    interrupted_ = false;
    SplitLines();
  }
  const int size = Size();
  if (LineLen < 0 || LineLen >= size - 1) ResetLineBuffer();  // never offer room 0

  const int room = size - 1 - LineLen;
  int got = receive(LineBuf + LineLen, room);
  if (got <= 0) return;
  if (got > room) got = room;

  // Zero bytes are dropped: they carry nothing in this protocol, and dropping
  // them keeps the byte after the held data the only zero in the buffer.
  char* const fresh = LineBuf + LineLen;
  char* keep = static_cast<char*>(std::memchr(fresh, '\0', static_cast<size_t>(got)));
  if (keep) {
    for (const char* p = keep; p != fresh + got; ++p) {
      if (*p != '\0') *keep++ = *p;
    }
    got = static_cast<int>(keep - fresh);
  }

  if (skipping_) {
    // The rest of an over-long line is dropped up to and including its LF.
    const auto* lf = static_cast<const char*>(std::memchr(fresh, '\n', static_cast<size_t>(got)));
    if (!lf) {
      LineBuf[LineLen] = '\0';
      return;
    }
    skipping_ = false;
    const int after = static_cast<int>(fresh + got - (lf + 1));
    std::memmove(fresh, lf + 1, static_cast<size_t>(after));
    got = after;
  }
  LineLen += got;
  LineBuf[LineLen] = '\0';
  SplitLines();
}

void InboundEngine::SplitLines() {
  // Process every complete line, then move what is left to the front once.
  // The guard also does this when a Frame operation throws, so the buffer
  // stays consistent: the line in hand counts as consumed, the lines after it
  // wait for the next event.
  struct Consume {
    InboundEngine& e;
    int pos = 0;
    bool finished = false;
    ~Consume() {
      if (pos > 0) {
        std::memmove(e.LineBuf, e.LineBuf + pos, static_cast<size_t>(e.LineLen - pos));
        e.LineLen -= pos;
        e.LineBuf[e.LineLen] = '\0';
      }
      e.busy_ = false;
      e.interrupted_ = !finished;
      if (e.LineLen >= e.Size() - 1 &&
          !std::memchr(e.LineBuf, '\n', static_cast<size_t>(e.LineLen))) {
        // Full and no LF: this line cannot be assembled. Drop it and skip
        // the rest of it, so the connection goes on with the next line.
        e.LineLen = 0;
        e.LineBuf[0] = '\0';
        e.skipping_ = true;
      }
    }
  } consume{*this};
  busy_ = true;
  for (;;) {
    const char* start = LineBuf + consume.pos;
    const auto* lf = static_cast<const char*>(
        std::memchr(start, '\n', static_cast<size_t>(LineLen - consume.pos)));
    if (!lf) break;
    consume.pos = static_cast<int>(lf + 1 - LineBuf);
    ProcessLine(std::string_view(start, static_cast<size_t>(lf - start)));
  }
  consume.finished = true;
}
