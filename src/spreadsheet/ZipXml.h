#pragma once
// A zip member read as XML while it inflates, by a scanner of our own.
//
// The members of a workbook are large (a sheet of a million rows is some
// hundreds of megabytes of XML) and plain: UTF-8, elements, attributes,
// text, the five named entities and character references, comments and
// CDATA. TZipXml scans exactly that, on the bytes. Expat, fed the same
// member chunk by chunk, took 4.5 s for the million-row sheet with handlers
// that do nothing, where this scanner takes 2.3 s and hands out every token
// (XmlPull.h has expat, for XML 2003 files).
//
// What a stranger's member cannot do here:
//   - declare a document type (and with it entities): refused;
//   - nest elements deeper than kMaxDepth: refused;
//   - hold one tag, text run, comment or instruction of more than
//     kMaxTokenBytes: refused. Up to that size an unfinished token is scanned
//     again only as the chunks double, so the work stays linear in the input;
//   - make an element's text longer than its reader allows: refused;
//   - inflate beyond kMaxInflatedBytes: refused as soon as it passes it.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

#include "spreadsheet/ZipArchive.h"

class TZipXml {
 public:
  enum TToken { Start, End, Text, EndDocument };

  static constexpr int kMaxDepth = 256;
  static constexpr std::int64_t kMaxTokenBytes = std::int64_t(64) << 20;
  // The longest text ElementText gathers unless told otherwise, in characters.
  static constexpr qsizetype kMaxElementText = qsizetype(1) << 20;

  // Throws ESpreadsheetError when the member is missing or cannot be read.
  TZipXml(const TZipArchive& archive, const QString& name);
  TZipXml(const TZipXml&) = delete;
  TZipXml& operator=(const TZipXml&) = delete;

  // The next token; a self-closing element gives Start then End. Throws
  // ESpreadsheetError on malformed XML, a refusal above, a failing inflate.
  TToken Next();
  // The local name (after any prefix) of the element of a Start or End.
  bool Is(const char* local) const { return FName == local; }
  // An attribute of the current Start by its local name, the first one of
  // that name; raw (entities not replaced: for names and numbers) or as text.
  QByteArrayView AttrRaw(const char* local) const;
  bool HasAttr(const char* local) const;
  QString Attr(const char* local) const;
  // The text of a Text token.
  QString TextValue() const;
  // After a Start: the text of the element and its children, to its end.
  // Throws when it would hold more than maxChars characters.
  QString ElementText(qsizetype maxChars = kMaxElementText);
  // After a Start: skips to the end of the element.
  void Skip();

 private:
  bool Feed();
  // Throws when a token (or what is pending of one) passes kMaxTokenBytes.
  void Bound(size_t tokenBytes) const;
  [[noreturn]] void Malformed(const char* what) const;
  const char* Begin() const { return FBuf.data(); }

  QString FMember;
  TZipMember FSource;
  std::string FBuf;
  size_t FPos = 0;
  bool FEnd = false;
  bool FAny = false;
  bool FPendingEnd = false;  // the End of a self-closing element
  // The current token, as offsets into FBuf (valid until the next call).
  QByteArrayView FName;
  struct TAttr {
    QByteArrayView name;
    QByteArrayView value;
  };
  std::vector<TAttr> FAttrs;
  QByteArrayView FText;
  bool FTextIsCdata = false;
  std::vector<std::string> FOpen;  // names of the open elements
};

// Replaces the entities and character references of raw XML text.
QString XmlText(QByteArrayView raw);
