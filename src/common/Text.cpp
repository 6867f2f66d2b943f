#include "Text.h"

namespace zorv {

bool isValidUtf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int extra;
    unsigned min;
    unsigned cp;
    if ((c & 0xE0) == 0xC0) {
      extra = 1; min = 0x80; cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2; min = 0x800; cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3; min = 0x10000; cp = c & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(extra) >= n) return false;
    for (int k = 1; k <= extra; ++k) {
      const auto cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += extra + 1;
  }
  return true;
}

QString toDisplay(std::string_view bytes) {
  const auto len = static_cast<qsizetype>(bytes.size());
  if (isValidUtf8(bytes)) {
    // fromUtf8 drops a leading byte order mark; here every one is text like any
    // other, so the marks at the start are taken off before and put back after.
    size_t marks = 0;
    while (bytes.substr(marks * 3, 3) == "\xEF\xBB\xBF") ++marks;
    if (marks > 0) {
      const auto skip = static_cast<qsizetype>(marks * 3);
      return QString(static_cast<qsizetype>(marks), QChar(0xFEFF)) + QString::fromUtf8(bytes.data() + skip, len - skip);
    }
    return QString::fromUtf8(bytes.data(), len);
  }
  return QString::fromLatin1(bytes.data(), len);
}

std::string fromInput(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

QString trimmedText(QStringView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b].unicode() <= 32) ++b;
  while (e > b && s[e - 1].unicode() <= 32) --e;
  return s.mid(b, e - b).toString();
}

QString upperAsciiText(QString s) {
  for (QChar& c : s)
    if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 32);
  return s;
}

bool sameTextAscii(QStringView a, QStringView b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode(), y = b[i].unicode();
    if (x >= u'a' && x <= u'z') x -= 32;
    if (y >= u'a' && y <= u'z') y -= 32;
    if (x != y) return false;
  }
  return true;
}

}  // namespace zorv
