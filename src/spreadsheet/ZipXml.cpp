#include "spreadsheet/ZipXml.h"

#include <QStringList>

#include <zip.h>

#include <cstring>

#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"

namespace {
constexpr zip_uint64_t kChunk = 256 * 1024;

QString TooLarge(const QString& name) {
  return QStringLiteral("文件中的“%1”解压后超过 %2 MB，可能已损坏或是恶意文件")
      .arg(name)
      .arg(kMaxInflatedBytes / (1024 * 1024));
}

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

// ---- archive ----------------------------------------------------------------

TZipArchive::TZipArchive(const QByteArray& bytes) : FBytes(bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(FBytes.constData(), zip_uint64_t(FBytes.size()), 0, &error);
  if (source) {
    FZip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!FZip) zip_source_free(source);
  }
  zip_error_fini(&error);
  if (!FZip) throw ESpreadsheetError(QStringLiteral("压缩包已损坏，无法打开"));
}

TZipArchive::~TZipArchive() {
  if (FZip) zip_discard(FZip);
}

bool TZipArchive::Has(const QString& name) const {
  return zip_name_locate(FZip, name.toUtf8().constData(), ZIP_FL_NOCASE) >= 0;
}

// ---- scanner ----------------------------------------------------------------

TZipXml::TZipXml(const TZipArchive& archive, const QString& name) : FMember(name) {
  const zip_int64_t index = zip_name_locate(archive.Handle(), name.toUtf8().constData(), ZIP_FL_NOCASE);
  if (index < 0) throw ESpreadsheetError(QStringLiteral("缺少“%1”").arg(name));
  zip_stat_t st;
  zip_stat_init(&st);
  // The size the directory declares is checked first; the inflated bytes are
  // counted too, since a directory can lie.
  if (zip_stat_index(archive.Handle(), zip_uint64_t(index), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) &&
      st.size > zip_uint64_t(kMaxInflatedBytes)) {
    throw ESpreadsheetError(TooLarge(name));
  }
  FFile = zip_fopen_index(archive.Handle(), zip_uint64_t(index), 0);
  if (!FFile) throw ESpreadsheetError(QStringLiteral("无法解压“%1”").arg(name));
}

TZipXml::~TZipXml() {
  if (FFile) zip_fclose(FFile);
}

void TZipXml::Malformed(const char* what) const {
  throw ESpreadsheetError(QStringLiteral("“%1”不是正确的 XML（%2）").arg(FMember, QString::fromLatin1(what)));
}

// Drops what was scanned and appends the next inflated chunk; false at the
// end of the member.
bool TZipXml::Feed() {
  if (FEnd) return false;
  if (FPos > 0) {
    FBuf.erase(0, FPos);
    FPos = 0;
  }
  const size_t old = FBuf.size();
  FBuf.resize(old + kChunk);
  const zip_int64_t n = zip_fread(FFile, FBuf.data() + old, kChunk);
  if (n < 0) throw ESpreadsheetError(QStringLiteral("无法解压“%1”，文件已损坏").arg(FMember));
  FBuf.resize(old + size_t(n));
  if (n == 0) {
    FEnd = true;
    return false;
  }
  FInflated += n;
  if (FInflated > kMaxInflatedBytes) throw ESpreadsheetError(TooLarge(FMember));
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
      if (FInflated == 0) throw ESpreadsheetError(QStringLiteral("“%1”是空的").arg(FMember));
      return EndDocument;
    }
    if (FBuf[FPos] != '<') {
      size_t lt = FBuf.find('<', FPos);
      if (lt == std::string::npos) {
        if (Feed()) continue;
        lt = FBuf.size();
      }
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
      FPos = e + 3;
      continue;
    }
    if (avail >= 9 && std::memcmp(p, "<![CDATA[", 9) == 0) {
      const size_t e = FBuf.find("]]>", FPos + 9);
      if (e == std::string::npos) {
        if (Feed()) continue;
        Malformed("CDATA 没有结束");
      }
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

QString TZipXml::ElementText() {
  QString text;
  int depth = 1;
  while (depth > 0) {
    switch (Next()) {
      case Start: ++depth; break;
      case End: --depth; break;
      case Text: text += TextValue(); break;
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

QString ResolvePartName(const QString& base, const QString& target) {
  if (target.startsWith(u'/')) return target.mid(1);
  QStringList parts = base.split(u'/');
  parts.removeLast();  // the folder of base
  for (const QString& p : target.split(u'/')) {
    if (p == QLatin1String("..")) {
      if (!parts.isEmpty()) parts.removeLast();
    } else if (p != QLatin1String(".") && !p.isEmpty()) {
      parts << p;
    }
  }
  return parts.join(u'/');
}
