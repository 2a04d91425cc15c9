#include "spreadsheet/ZipXml.h"

#include <algorithm>
#include <cstring>

#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"

namespace {
constexpr std::int64_t kChunk = 256 * 1024;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

QByteArrayView LocalName(QByteArrayView qualified) {
  const qsizetype colon = qualified.lastIndexOf(':');
  return colon < 0 ? qualified : qualified.sliced(colon + 1);
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}
}  // namespace

// ---- scanner ----------------------------------------------------------------

TZipXml::TZipXml(const TZipArchive& archive, const QString& name) : FMember(name), FSource(archive, name) {}

void TZipXml::Malformed(const char* what) const {
  throw ESpreadsheetError(QStringLiteral("“%1”不是正确的 XML（%2）").arg(FMember, QString::fromUtf8(what)));
}

void TZipXml::Bound(size_t tokenBytes) const {
  if (std::int64_t(tokenBytes) <= kMaxTokenBytes) return;
  throw ESpreadsheetError(QStringLiteral("“%1”中有一段连续的文字或一个标记超过 %2 MB，文件可能已损坏或是恶意文件")
                              .arg(FMember)
                              .arg(kMaxTokenBytes >> 20));
}

// Drops what was scanned and appends the next inflated bytes; false at the
// end of the member. A token not yet complete is scanned again from its
// start: the bytes appended are as many as it holds, so that a long token
// costs twice its length, not its length squared.
bool TZipXml::Feed() {
  if (FEnd) return false;
  if (FPos > 0) {
    FBuf.erase(0, FPos);
    FPos = 0;
  }
  const std::int64_t pending = std::int64_t(FBuf.size());
  Bound(size_t(pending));
  const std::int64_t want = std::max(kChunk, pending);
  FBuf.resize(size_t(pending + want));
  const std::int64_t n = FSource.Read(FBuf.data() + pending, want);
  FBuf.resize(size_t(pending + n));
  if (n == 0) {
    FEnd = true;
    return false;
  }
  FAny = true;
  return true;
}

TZipXml::TToken TZipXml::Next() {
  if (FPendingEnd) {
    FPendingEnd = false;
    FOpen.pop_back();
    return End;
  }
  for (;;) {
    if (FPos >= FBuf.size()) {
      if (Feed()) continue;
      if (!FOpen.empty()) Malformed("文件提前结束");
      if (!FAny) throw ESpreadsheetError(QStringLiteral("“%1”是空的").arg(FMember));
      return EndDocument;
    }
    if (FBuf[FPos] != '<') {
      size_t lt = FBuf.find('<', FPos);
      if (lt == std::string::npos) {
        if (Feed()) continue;
        lt = FBuf.size();
      }
      Bound(lt - FPos);
      FText = QByteArrayView(Begin() + FPos, qsizetype(lt - FPos));
      FTextIsCdata = false;
      FPos = lt;
      if (FOpen.empty()) {
        for (const char c : FText) {
          if (!IsSpace(c) && c != '\xEF' && c != '\xBB' && c != '\xBF') Malformed("元素之外有文字");
        }
        continue;
      }
      return Text;
    }
    const size_t avail = FBuf.size() - FPos;
    const char* p = Begin() + FPos;
    if (avail < 9 && !FEnd) {
      Feed();
      continue;
    }
    if (avail >= 4 && std::memcmp(p, "<!--", 4) == 0) {
      const size_t e = FBuf.find("-->", FPos + 4);
      if (e == std::string::npos) {
        if (Feed()) continue;
        Malformed("注释没有结束");
      }
      Bound(e + 3 - FPos);
      FPos = e + 3;
      continue;
    }
    if (avail >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
      const size_t e = FBuf.find("]]>", FPos + 9);
      if (e == std::string::npos) {
        if (Feed()) continue;
        Malformed("CDATA 没有结束");
      }
      Bound(e + 3 - FPos);
      FText = QByteArrayView(Begin() + FPos + 9, qsizetype(e - FPos - 9));
      FTextIsCdata = true;
      FPos = e + 3;
      if (FOpen.empty()) Malformed("元素之外有文字");
      return Text;
    }
    if (avail >= 2 && p[1] == '?') {
      const size_t e = FBuf.find("?>", FPos + 2);
      if (e == std::string::npos) {
        if (Feed()) continue;
        Malformed("处理指令没有结束");
      }
      Bound(e + 2 - FPos);
      FPos = e + 2;
      continue;
    }
    if (avail >= 2 && p[1] == '!') Malformed("不接受文档类型声明");
    // The end of the tag: the first '>' outside a quoted value.
    size_t e = FPos + 1;
    char quote = 0;
    for (; e < FBuf.size(); ++e) {
      const char c = FBuf[e];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (e >= FBuf.size()) {
      if (Feed()) continue;
      Malformed("标记没有结束");
    }
    Bound(e + 1 - FPos);
    const char* tag = Begin() + FPos + 1;
    size_t len = e - FPos - 1;
    FPos = e + 1;
    if (len > 0 && tag[0] == '/') {
      size_t n = 1;
      while (n < len && !IsSpace(tag[n])) ++n;
      const QByteArrayView name(tag + 1, qsizetype(n - 1));
      if (FOpen.empty() || QByteArrayView(FOpen.back().data(), qsizetype(FOpen.back().size())) != name) {
        Malformed("结束标记与开始标记不符");
      }
      FOpen.pop_back();
      FName = LocalName(name);
      return End;
    }
    bool selfClosing = false;
    if (len > 0 && tag[len - 1] == '/') {
      selfClosing = true;
      --len;
    }
    size_t i = 0;
    while (i < len && !IsSpace(tag[i])) ++i;
    if (i == 0) Malformed("元素没有名称");
    const QByteArrayView name(tag, qsizetype(i));
    FName = LocalName(name);
    FAttrs.clear();
    for (;;) {
      while (i < len && IsSpace(tag[i])) ++i;
      if (i >= len) break;
      const size_t n0 = i;
      while (i < len && tag[i] != '=' && !IsSpace(tag[i])) ++i;
      const QByteArrayView attrName(tag + n0, qsizetype(i - n0));
      while (i < len && IsSpace(tag[i])) ++i;
      if (i >= len || tag[i] != '=') Malformed("属性没有值");
      ++i;
      while (i < len && IsSpace(tag[i])) ++i;
      if (i >= len || (tag[i] != '"' && tag[i] != '\'')) Malformed("属性值没有引号");
      const char q = tag[i++];
      const size_t v0 = i;
      while (i < len && tag[i] != q) ++i;
      if (i >= len) Malformed("属性值没有结束");
      FAttrs.push_back({LocalName(attrName), QByteArrayView(tag + v0, qsizetype(i - v0))});
      ++i;
    }
    if (FOpen.size() >= size_t(kMaxDepth)) {
      throw ESpreadsheetError(QStringLiteral("“%1”中的元素嵌套超过 %2 层，文件可能已损坏或是恶意文件").arg(FMember).arg(kMaxDepth));
    }
    FOpen.emplace_back(name.data(), size_t(name.size()));
    FPendingEnd = selfClosing;
    return Start;
  }
}

QByteArrayView TZipXml::AttrRaw(const char* local) const {
  for (const TAttr& a : FAttrs) {
    if (a.name == local) return a.value;
  }
  return {};
}

bool TZipXml::HasAttr(const char* local) const {
  for (const TAttr& a : FAttrs) {
    if (a.name == local) return true;
  }
  return false;
}

QString TZipXml::Attr(const char* local) const { return XmlText(AttrRaw(local)); }

QString TZipXml::TextValue() const {
  return FTextIsCdata ? QString::fromUtf8(FText) : XmlText(FText);
}

QString TZipXml::ElementText(qsizetype maxChars) {
  QString text;
  int depth = 1;
  while (depth > 0) {
    switch (Next()) {
      case Start: ++depth; break;
      case End: --depth; break;
      case Text:
        text += TextValue();
        if (text.size() > maxChars) {
          throw ESpreadsheetError(
              QStringLiteral("“%1”中有一段文字超过 %2 个字符，文件可能已损坏或是恶意文件").arg(FMember).arg(maxChars));
        }
        break;
      case EndDocument: return text;
    }
  }
  return text;
}

void TZipXml::Skip() {
  int depth = 1;
  while (depth > 0) {
    switch (Next()) {
      case Start: ++depth; break;
      case End: --depth; break;
      case Text: break;
      case EndDocument: return;
    }
  }
}

QString XmlText(QByteArrayView raw) {
  if (!raw.contains('&') && !raw.contains('\r')) return QString::fromUtf8(raw);
  std::string out;
  out.reserve(size_t(raw.size()));
  for (qsizetype i = 0; i < raw.size(); ++i) {
    const char c = raw[i];
    if (c == '\r') {
      out += '\n';  // line ends are normalised to LF
      if (i + 1 < raw.size() && raw[i + 1] == '\n') ++i;
      continue;
    }
    if (c != '&') {
      out += c;
      continue;
    }
    const qsizetype semi = raw.indexOf(';', i + 1);
    if (semi < 0 || semi - i > 12) {
      out += c;  // a lone '&' is kept as it stands
      continue;
    }
    const QByteArrayView ent = raw.sliced(i + 1, semi - i - 1);
    if (ent == "lt") {
      out += '<';
    } else if (ent == "gt") {
      out += '>';
    } else if (ent == "amp") {
      out += '&';
    } else if (ent == "quot") {
      out += '"';
    } else if (ent == "apos") {
      out += '\'';
    } else if (ent.startsWith("#")) {
      bool ok = false;
      const uint cp = ent.startsWith("#x") || ent.startsWith("#X") ? QByteArray(ent.sliced(2).data(), ent.size() - 2).toUInt(&ok, 16)
                                                                 : QByteArray(ent.sliced(1).data(), ent.size() - 1).toUInt(&ok, 10);
      if (!ok || cp > 0x10FFFF) {
        out.append(raw.data() + i, size_t(semi - i + 1));
      } else {
        AppendUtf8(out, char32_t(cp));
      }
    } else {
      out.append(raw.data() + i, size_t(semi - i + 1));
    }
    i = semi;
  }
  return QString::fromUtf8(out.data(), qsizetype(out.size()));
}

