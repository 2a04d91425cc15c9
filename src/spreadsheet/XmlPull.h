#pragma once
// XML read token by token with expat, the parser the XML of most desktop
// software goes through, fed from a byte source in chunks: the XML 2003
// workbooks (a file in memory). The zipped formats' members, hundreds of
// megabytes for a large sheet, go through the faster scanner of ZipXml.h,
// which hands out the same tokens under the same limits.
//
// The readers ask for one token at a time; expat parses a chunk ahead and
// the tokens of that chunk wait in a small queue, so memory never holds more
// of the document than one chunk. What a stranger's file cannot do here:
//   - declare a document type (and with it entities): refused;
//   - nest elements deeper than kMaxDepth: refused;
//   - keep one tag, comment or instruction open for more than kMaxTokenBytes:
//     refused. Up to that size an unfinished tag is parsed again only as the
//     chunks double, so the work stays linear in the input;
//   - make an element's text longer than its reader allows: refused.
// Every refusal is an ESpreadsheetError with a Chinese reason that names the
// document.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

// Bytes that arrive in pieces.
class IByteSource {
 public:
  virtual ~IByteSource() = default;
  // Up to max bytes into `into`; 0 at the end. Throws ESpreadsheetError.
  virtual std::int64_t Read(char* into, std::int64_t max) = 0;
};

// Bytes already in memory.
class TMemorySource : public IByteSource {
 public:
  explicit TMemorySource(const QByteArray& bytes) : FBytes(bytes) {}
  std::int64_t Read(char* into, std::int64_t max) override;

 private:
  QByteArray FBytes;
  std::int64_t FPos = 0;
};

struct XML_ParserStruct;

class TXmlPull {
 public:
  enum TToken { Start, End, Text, EndDocument };

  static constexpr int kMaxDepth = 256;
  static constexpr std::int64_t kMaxTokenBytes = std::int64_t(64) << 20;
  // The longest text ElementText gathers unless told otherwise, in characters.
  static constexpr qsizetype kMaxElementText = qsizetype(1) << 20;

  // name: how messages call the document ("xl/worksheets/sheet1.xml").
  TXmlPull(IByteSource& source, const QString& name);
  virtual ~TXmlPull();
  TXmlPull(const TXmlPull&) = delete;
  TXmlPull& operator=(const TXmlPull&) = delete;

  // The next token; a self-closing element gives Start then End. A text may
  // come as several Text tokens in a row. Throws ESpreadsheetError on XML that
  // is not well-formed, on a refusal above, or when the source fails.
  TToken Next();
  // The local name (after any prefix) of the element of a Start or End.
  bool Is(const char* local) const;
  // An attribute of the current Start by its local name, the first one of
  // that name: its value as UTF-8 (entities already replaced), or as text.
  QByteArrayView AttrBytes(const char* local) const;
  bool HasAttr(const char* local) const;
  QString Attr(const char* local) const;
  // The text of a Text token.
  QString TextValue() const;
  QByteArrayView TextBytes() const;
  // After a Start: the text of the element and its children, to its end.
  // Throws when it would hold more than maxChars characters.
  QString ElementText(qsizetype maxChars = kMaxElementText);
  // After a Start: skips to the end of the element.
  void Skip();
  const QString& Name() const { return FName; }

 private:
  struct TEvent {
    TToken kind;
    std::uint32_t name, nameLen;    // local name, in FArena
    std::uint32_t attrs, attrCount;  // in FAttrs
    std::uint32_t text, textLen;     // in FArena
  };
  struct TAttr {
    std::uint32_t name, nameLen, value, valueLen;
  };

  static void OnStart(void* self, const char* name, const char** atts);
  static void OnEnd(void* self, const char* name);
  static void OnText(void* self, const char* s, int len);
  static void OnDoctype(void* self, const char*, const char*, const char*, int);
  std::uint32_t Keep(const char* s, size_t len);
  void Mark();
  void Stop(const QString& why);
  void Feed();
  [[noreturn]] void Malformed() const;
  QByteArrayView Bytes(std::uint32_t at, std::uint32_t len) const {
    return QByteArrayView(FArena.data() + at, qsizetype(len));
  }

  IByteSource& FSource;
  QString FName;
  XML_ParserStruct* FParser = nullptr;
  std::vector<TEvent> FEvents;
  std::vector<TAttr> FAttrs;
  std::string FArena;
  size_t FNext = 0;  // the next event to hand out
  const TEvent* FCur = nullptr;
  int FDepth = 0;
  bool FFinished = false;  // the source is at its end and parsed
  bool FAny = false;       // a byte arrived
  std::int64_t FFed = 0;       // bytes handed to expat
  std::int64_t FConsumed = 0;  // bytes expat has turned into events
  std::int64_t FChunk;
  QString FStop;  // why a handler stopped the parser
};

namespace detail {
struct TMemoryHolder {
  explicit TMemoryHolder(const QByteArray& bytes) : FMemory(bytes) {}
  TMemorySource FMemory;
};
}  // namespace detail

// A document in memory read as XML.
class TXmlBytes : private detail::TMemoryHolder, public TXmlPull {
 public:
  TXmlBytes(const QByteArray& bytes, const QString& name) : detail::TMemoryHolder(bytes), TXmlPull(FMemory, name) {}
};
