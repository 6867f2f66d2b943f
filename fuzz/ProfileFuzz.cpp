// The settings file reader and writer over hostile files (in memory, as they
// are read from and written to disk). The input is split at its first two
// 0xFF bytes into a file, a key and a value. The file is read (never a crash,
// whatever it holds); then the value is written under the key
// in section "Fuzz" and the file is read back: a write that was accepted must
// read back as the value (blanks at the ends removed, cut to the read limit),
// and a value of another section must read as before.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzCheck.h"
#include "Profile.h"

namespace {

QString trimmedAndCut(const QString& s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b].unicode() <= 32) ++b;
  while (e > b && s[e - 1].unicode() <= 32) --e;
  QString v = s.mid(b, e - b);
  const qsizetype limit = zorv::kProfileValueLimit;
  if (v.size() > limit) v.truncate(v[limit - 1].isHighSurrogate() ? limit - 1 : limit);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t a = input.find('\xff');
  const size_t b = a == std::string_view::npos ? a : input.find('\xff', a + 1);
  const std::string_view file = input.substr(0, a);
  const QString key = a == std::string_view::npos ? QStringLiteral("Nick")
                                                   : QString::fromUtf8(input.substr(a + 1, b - a - 1));
  const QString value = b == std::string_view::npos ? QStringLiteral("value") : QString::fromUtf8(input.substr(b + 1));

  zorv::ProfileFile profile(QString{});
  profile.loadContents(QByteArray(file.data(), static_cast<qsizetype>(file.size())));
  const QString other = profile.value("User Info", "Nick", "<none>");
  if (profile.setValue("Fuzz", key, value)) {
    zorv::ProfileFile again(QString{});
    again.loadContents(profile.contents());
    if (again.value("Fuzz", key, "<none>") != trimmedAndCut(value))
      fuzz::fail("the written value did not read back", value.toStdString());
    if (again.value("User Info", "Nick", "<none>") != other)
      fuzz::fail("another section's value changed", other.toStdString());
  }
  return 0;
}
