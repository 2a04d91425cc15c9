#include "spreadsheet/XmlPull.h"

#include <expat.h>

#include <algorithm>
#include <cstring>

#include "spreadsheet/Spreadsheet.h"

namespace {

constexpr std::int64_t kChunk = 256 * 1024;

// What an expat error code means, for the operator.
QString ErrorPhrase(XML_Error code) {
  switch (code) {
    case XML_ERROR_NO_MEMORY: return QStringLiteral("内存不足");
    case XML_ERROR_SYNTAX: return QStringLiteral("语法错误");
    case XML_ERROR_NO_ELEMENTS: return QStringLiteral("文件提前结束，或没有任何元素");
    case XML_ERROR_INVALID_TOKEN: return QStringLiteral("含有不允许的字符或标记");
    case XML_ERROR_UNCLOSED_TOKEN: return QStringLiteral("文件提前结束，标记没有结束");
    case XML_ERROR_PARTIAL_CHAR: return QStringLiteral("文件提前结束，字符不完整");
    case XML_ERROR_TAG_MISMATCH: return QStringLiteral("结束标记与开始标记不符");
    case XML_ERROR_DUPLICATE_ATTRIBUTE: return QStringLiteral("同一个属性出现了两次");
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT: return QStringLiteral("根元素之后还有内容");
    case XML_ERROR_UNDEFINED_ENTITY: return QStringLiteral("使用了未定义的实体");
    case XML_ERROR_BAD_CHAR_REF: return QStringLiteral("字符引用不正确");
    case XML_ERROR_MISPLACED_XML_PI: return QStringLiteral("XML 声明的位置不对");
    case XML_ERROR_UNKNOWN_ENCODING: return QStringLiteral("不支持文件声明的编码");
    case XML_ERROR_INCORRECT_ENCODING: return QStringLiteral("文字与声明的编码不符");
    case XML_ERROR_UNCLOSED_CDATA_SECTION: return QStringLiteral("CDATA 没有结束");
    case XML_ERROR_XML_DECL: return QStringLiteral("XML 声明不正确");
    default: return QStringLiteral("格式错误（expat 错误 %1）").arg(int(code));
  }
}

size_t LocalStart(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? size_t(colon + 1 - name) : 0;
}

}  // namespace

std::int64_t TMemorySource::Read(char* into, std::int64_t max) {
  const std::int64_t n = std::min<std::int64_t>(max, FBytes.size() - FPos);
  if (n <= 0) return 0;
  std::memcpy(into, FBytes.constData() + FPos, size_t(n));
  FPos += n;
  return n;
}

TXmlPull::TXmlPull(IByteSource& source, const QString& name) : FSource(source), FName(name), FChunk(kChunk) {
  // No namespace processing: names keep their prefixes and are read by their
  // local part, as the formats' own producers differ in prefixes.
  FParser = XML_ParserCreate(nullptr);
  if (!FParser) throw ESpreadsheetError(QStringLiteral("内存不足，无法读取“%1”").arg(name));
  XML_SetUserData(FParser, this);
  XML_SetElementHandler(FParser, &TXmlPull::OnStart, &TXmlPull::OnEnd);
  XML_SetCharacterDataHandler(FParser, &TXmlPull::OnText);
  XML_SetStartDoctypeDeclHandler(FParser, &TXmlPull::OnDoctype);
  // Comments, instructions and the declaration: only their end is noted.
  XML_SetDefaultHandlerExpand(FParser, [](void* self, const char*, int) { static_cast<TXmlPull*>(self)->Mark(); });
}

TXmlPull::~TXmlPull() {
  if (FParser) XML_ParserFree(FParser);
}

std::uint32_t TXmlPull::Keep(const char* s, size_t len) {
  const auto at = std::uint32_t(FArena.size());
  FArena.append(s, len);
  return at;
}

void TXmlPull::Mark() {
  FConsumed = XML_GetCurrentByteIndex(FParser) + XML_GetCurrentByteCount(FParser);
}

void TXmlPull::Stop(const QString& why) {
  if (FStop.isEmpty()) FStop = why;
  XML_StopParser(FParser, XML_FALSE);
}

void TXmlPull::OnStart(void* self, const char* name, const char** atts) {
  auto* me = static_cast<TXmlPull*>(self);
  if (++me->FDepth > kMaxDepth) {
    me->Stop(QStringLiteral("“%1”中的元素嵌套超过 %2 层，文件可能已损坏或是恶意文件").arg(me->FName).arg(kMaxDepth));
    return;
  }
  me->Mark();
  TEvent e{Start, 0, 0, std::uint32_t(me->FAttrs.size()), 0, 0, 0};
  const size_t local = LocalStart(name);
  e.nameLen = std::uint32_t(std::strlen(name + local));
  e.name = me->Keep(name + local, e.nameLen);
  for (size_t i = 0; atts[i]; i += 2) {
    TAttr a{};
    const size_t l = LocalStart(atts[i]);
    a.nameLen = std::uint32_t(std::strlen(atts[i] + l));
    a.name = me->Keep(atts[i] + l, a.nameLen);
    a.valueLen = std::uint32_t(std::strlen(atts[i + 1]));
    a.value = me->Keep(atts[i + 1], a.valueLen);
    me->FAttrs.push_back(a);
    ++e.attrCount;
  }
  me->FEvents.push_back(e);
}

void TXmlPull::OnEnd(void* self, const char* name) {
  auto* me = static_cast<TXmlPull*>(self);
  --me->FDepth;
  me->Mark();
  TEvent e{End, 0, 0, 0, 0, 0, 0};
  const size_t local = LocalStart(name);
  e.nameLen = std::uint32_t(std::strlen(name + local));
  e.name = me->Keep(name + local, e.nameLen);
  me->FEvents.push_back(e);
}

void TXmlPull::OnText(void* self, const char* s, int len) {
  auto* me = static_cast<TXmlPull*>(self);
  me->Mark();
  // Expat hands a text over in pieces (at entities, line ends, chunk ends):
  // the pieces of one chunk become one token.
  if (!me->FEvents.empty()) {
    TEvent& last = me->FEvents.back();
    if (last.kind == Text && size_t(last.text) + last.textLen == me->FArena.size()) {
      me->FArena.append(s, size_t(len));
      last.textLen += std::uint32_t(len);
      return;
    }
  }
  TEvent e{Text, 0, 0, 0, 0, 0, std::uint32_t(len)};
  e.text = me->Keep(s, size_t(len));
  me->FEvents.push_back(e);
}

void TXmlPull::OnDoctype(void* self, const char*, const char*, const char*, int) {
  auto* me = static_cast<TXmlPull*>(self);
  me->Stop(QStringLiteral("“%1”含有文档类型声明，工作簿不使用它，文件可能是恶意文件").arg(me->FName));
}

void TXmlPull::Malformed() const {
  if (!FStop.isEmpty()) throw ESpreadsheetError(FStop);
  const XML_Error code = XML_GetErrorCode(FParser);
  throw ESpreadsheetError(QStringLiteral("“%1”不是正确的 XML（第 %2 行第 %3 列：%4）")
                              .arg(FName)
                              .arg(qulonglong(XML_GetCurrentLineNumber(FParser)))
                              .arg(qulonglong(XML_GetCurrentColumnNumber(FParser)) + 1)
                              .arg(ErrorPhrase(code)));
}

void TXmlPull::Feed() {
  FEvents.clear();
  FAttrs.clear();
  FArena.clear();
  FNext = 0;
  void* buffer = XML_GetBuffer(FParser, int(FChunk));
  if (!buffer) throw ESpreadsheetError(QStringLiteral("内存不足，无法读取“%1”").arg(FName));
  const std::int64_t n = FSource.Read(static_cast<char*>(buffer), FChunk);
  const bool last = n <= 0;
  if (!last) {
    FAny = true;
    FFed += n;
  } else if (!FAny) {
    throw ESpreadsheetError(QStringLiteral("“%1”是空的").arg(FName));
  }
  if (XML_ParseBuffer(FParser, last ? 0 : int(n), last) != XML_STATUS_OK) Malformed();
  if (last) {
    FFinished = true;
    return;
  }
  // Bytes expat holds for a tag not yet complete. It parses such a tag from
  // its start again with every chunk: the next chunk is as large as what it
  // holds, so a long tag costs twice its length, not its length squared.
  const std::int64_t pending = FFed - FConsumed;
  if (pending > kMaxTokenBytes) {
    throw ESpreadsheetError(QStringLiteral("“%1”中有一个标记超过 %2 MB，文件可能已损坏或是恶意文件")
                                .arg(FName)
                                .arg(kMaxTokenBytes >> 20));
  }
  FChunk = std::max(kChunk, pending);
}

TXmlPull::TToken TXmlPull::Next() {
  while (FNext >= FEvents.size()) {
    if (FFinished) {
      FCur = nullptr;
      return EndDocument;
    }
    Feed();
  }
  FCur = &FEvents[FNext++];
  return FCur->kind;
}

bool TXmlPull::Is(const char* local) const {
  return FCur && FCur->kind != Text && Bytes(FCur->name, FCur->nameLen) == QByteArrayView(local);
}

QByteArrayView TXmlPull::AttrBytes(const char* local) const {
  if (!FCur || FCur->kind != Start) return {};
  const QByteArrayView want(local);
  for (std::uint32_t i = 0; i < FCur->attrCount; ++i) {
    const TAttr& a = FAttrs[FCur->attrs + i];
    if (Bytes(a.name, a.nameLen) == want) return Bytes(a.value, a.valueLen);
  }
  return {};
}

bool TXmlPull::HasAttr(const char* local) const {
  if (!FCur || FCur->kind != Start) return false;
  const QByteArrayView want(local);
  for (std::uint32_t i = 0; i < FCur->attrCount; ++i) {
    const TAttr& a = FAttrs[FCur->attrs + i];
    if (Bytes(a.name, a.nameLen) == want) return true;
  }
  return false;
}

QString TXmlPull::Attr(const char* local) const { return QString::fromUtf8(AttrBytes(local)); }

QByteArrayView TXmlPull::TextBytes() const {
  return FCur && FCur->kind == Text ? Bytes(FCur->text, FCur->textLen) : QByteArrayView();
}

QString TXmlPull::TextValue() const { return QString::fromUtf8(TextBytes()); }

QString TXmlPull::ElementText(qsizetype maxChars) {
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
              QStringLiteral("“%1”中有一段文字超过 %2 个字符，文件可能已损坏或是恶意文件").arg(FName).arg(maxChars));
        }
        break;
      case EndDocument: return text;
    }
  }
  return text;
}

void TXmlPull::Skip() {
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
