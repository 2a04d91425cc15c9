#include "platform/Gbk.h"

#include <iconv.h>

#include <cerrno>
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

QString FromGbk(const QByteArray& bytes) {
  if (bytes.isEmpty()) return {};
  return QString::fromUtf8(Convert("UTF-8", "GBK", bytes, QByteArray("\xEF\xBF\xBD")));
}

namespace {
int CharGbkBytes(char32_t c) {
  if (c < 0x80) return 1;
  QString s = QString::fromUcs4(&c, 1);
  return static_cast<int>(ToGbk(s).size());
}
}  // namespace

int GbkLength(const QString& text) {
  int n = 0;
  for (char32_t c : text.toUcs4()) n += CharGbkBytes(c);
  return n;
}

QString GbkHead(const QString& text, int maxBytes) {
  if (maxBytes <= 0) return {};
  const auto chars = text.toUcs4();
  int used = 0;
  qsizetype i = 0;
  for (; i < chars.size(); ++i) {
    int w = CharGbkBytes(chars[i]);
    if (used + w > maxBytes) break;
    used += w;
  }
  return QString::fromUcs4(chars.constData(), i);
}

QString GbkTail(const QString& text, int maxBytes) {
  if (maxBytes <= 0) return {};
  const auto chars = text.toUcs4();
  int used = 0;
  qsizetype i = chars.size();
  for (; i > 0; --i) {
    int w = CharGbkBytes(chars[i - 1]);
    if (used + w > maxBytes) break;
    used += w;
  }
  return QString::fromUcs4(chars.constData() + i, chars.size() - i);
}
