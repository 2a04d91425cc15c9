#include "platform/Gbk.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <vector>
#include <stdexcept>
#include <string_view>

namespace {

// Converts with iconv; characters that GBK cannot hold become '?', bytes that
// are not valid GBK become U+FFFD, so a conversion never fails as a whole.
QByteArray Convert(const char* to, const char* from, const QByteArray& in, const QByteArray& bad) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert text");
  QByteArray out;
  out.reserve(in.size() * 2 + 8);
  char buf[4096];
  char* src = const_cast<char*>(in.constData());
  size_t left = static_cast<size_t>(in.size());
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<int>(dst - buf));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: skip one input unit and put the replacement.
      out.append(bad);
      size_t skip = 1;
      if (std::string_view(from) == "UTF-8") {
        unsigned char c = static_cast<unsigned char>(*src);
        skip = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        if (skip > left) skip = left;
      }
      src += skip;
      left -= skip;
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

QByteArray ToGbk(const QString& text) {
  if (text.isEmpty()) return {};
  return Convert("GBK", "UTF-8", text.toUtf8(), QByteArray("?"));
}

bool GbkHolds(char32_t c) {
  if (c < 0x80) return true;
  if (c > 0xFFFF) return false;  // GBK holds nothing beyond the first plane
  // Each character's answer is worked out once.
  static std::vector<std::uint8_t> known(0x10000, 0);  // 0 unknown, 1 held, 2 not
  std::uint8_t& k = known[c];
  if (k == 0) {
    const QString one = QString(QChar(char16_t(c)));
    k = QChar::isSurrogate(c) || ToGbk(one) == "?" ? 2 : 1;
  }
  return k == 1;
}

QString GbkCompatible(const QString& text) {
  // Most texts are held whole: they are looked at once and returned as
  // they are, without a copy of a character.
  const QChar* u = text.constData();
  qsizetype first = 0;
  while (first < text.size() && !u[first].isSurrogate() && GbkHolds(u[first].unicode())) ++first;
  if (first == text.size()) return text;
  QString out = text.left(first);
  bool changed = false;
  for (qsizetype i = first; i < text.size();) {
    const char32_t c = text.at(i).isHighSurrogate() && i + 1 < text.size()
                           ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
                           : char32_t(text.at(i).unicode());
    const qsizetype units = c > 0xFFFF ? 2 : 1;
    const QString one = text.mid(i, units);
    QString kept = one;
    if (!GbkHolds(c)) {
      const QString compatible = one.normalized(QString::NormalizationForm_KC);
      bool held = !compatible.isEmpty() && compatible != one;
      for (const QChar ch : compatible) held = held && GbkHolds(ch.unicode());
      if (held) {
        kept = compatible;
        changed = true;
      }
    }
    out += kept;
    i += units;
  }
  return changed ? out : text;
}

QString GbkUnheld(const QString& text, int max) {
  QString out;
  int count = 0;
  for (qsizetype i = 0; i < text.size() && count < max;) {
    const char32_t c = text.at(i).isHighSurrogate() && i + 1 < text.size()
                           ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1))
                           : char32_t(text.at(i).unicode());
    const qsizetype units = c > 0xFFFF ? 2 : 1;
    if (!GbkHolds(c)) {
      const QString one = text.mid(i, units);
      if (GbkCompatible(one) == one && !out.contains(one)) {
        out += one;
        ++count;
      }
    }
    i += units;
  }
  return out;
}

QString FromGbk(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  return QString::fromUtf8(Convert("UTF-8", "GBK", bytes, QByteArray("\xEF\xBF\xBD")));
}

namespace {
// Length of the character (one or two UTF-16 units) that starts at i.
qsizetype CharUnits(const QString& s, qsizetype i) {
  return (s[i].isHighSurrogate() && i + 1 < s.size() && s[i + 1].isLowSurrogate()) ? 2 : 1;
}

int CharGbkBytes(const QString& s, qsizetype i, qsizetype units) {
  if (s[i].unicode() < 0x80) return 1;
  return static_cast<int>(ToGbk(s.mid(i, units)).size());
}
}  // namespace

int GbkLength(const QString& text) {
  int n = 0;
  for (qsizetype i = 0; i < text.size();) {
    const qsizetype u = CharUnits(text, i);
    n += CharGbkBytes(text, i, u);
    i += u;
  }
  return n;
}

QString GbkHead(const QString& text, int maxBytes) {
  if (maxBytes <= 0) return {};
  int used = 0;
  qsizetype i = 0;
  while (i < text.size()) {
    const qsizetype u = CharUnits(text, i);
    const int w = CharGbkBytes(text, i, u);
    if (used + w > maxBytes) break;
    used += w;
    i += u;
  }
  return text.left(i);
}

QString GbkTail(const QString& text, int maxBytes) {
  if (maxBytes <= 0) return {};
  int used = 0;
  qsizetype i = text.size();
  while (i > 0) {
    qsizetype u = 1;
    if (i >= 2 && text[i - 1].isLowSurrogate() && text[i - 2].isHighSurrogate()) u = 2;
    const int w = CharGbkBytes(text, i - u, u);
    if (used + w > maxBytes) break;
    used += w;
    i -= u;
  }
  return text.mid(i);
}
