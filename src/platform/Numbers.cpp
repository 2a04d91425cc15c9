#include "platform/Numbers.h"

bool TryStrToInt(const QString& text, int& value) {
  int i = 0;
  const int n = static_cast<int>(text.size());
  while (i < n && text[i] == QLatin1Char(' ')) ++i;
  bool negative = false;
  if (i < n && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
    negative = text[i] == QLatin1Char('-');
    ++i;
  }
  int base = 10;
  if (i < n && text[i] == QLatin1Char('$')) {
    base = 16;
    ++i;
  } else if (i + 1 < n && text[i] == QLatin1Char('0') && (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X'))) {
    base = 16;
    i += 2;
  }
  if (i >= n) return false;
  qint64 v = 0;
  for (; i < n; ++i) {
    const char16_t c = text[i].unicode();
    int d;
    if (c >= u'0' && c <= u'9') d = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f') d = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F') d = c - u'A' + 10;
    else return false;
    v = v * base + d;
    if (v > 0x80000000LL) return false;
  }
  if (negative) v = -v;
  if (v > 0x7FFFFFFFLL || v < -0x80000000LL) return false;
  value = static_cast<int>(v);
  return true;
}
