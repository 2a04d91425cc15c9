#pragma once
// A zip archive in memory (libzip) whose members are read as XML while they
// are inflated: a member is never held whole, and one that inflates beyond
// kMaxInflatedBytes ends the read.
//
// The members of a workbook are large (a sheet of a million rows is some
// hundreds of megabytes of XML) and plain: UTF-8, elements, attributes,
// text, the five named entities and character references, comments and
// CDATA. TZipXml scans exactly that, on the bytes, about ten times faster than
// QXmlStreamReader does (which built a QString for every name and attribute);
// it checks that elements nest and refuses a document type declaration.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

struct zip;
struct zip_file;

class TZipArchive {
 public:
  // Throws ESpreadsheetError when bytes are no zip archive.
  explicit TZipArchive(const QByteArray& bytes);
  ~TZipArchive();
  TZipArchive(const TZipArchive&) = delete;
  TZipArchive& operator=(const TZipArchive&) = delete;

  // Whether the member exists (names compared without case, as the Open
  // Packaging Conventions want).
  bool Has(const QString& name) const;
  zip* Handle() const { return FZip; }

 private:
  QByteArray FBytes;  // libzip reads the archive from here
  zip* FZip = nullptr;
};

// Pulls XML tokens from one member, inflating more as the scan needs it.
class TZipXml {
 public:
  enum TToken { Start, End, Text, EndDocument };

  // Throws ESpreadsheetError when the member is missing or cannot be read.
  TZipXml(const TZipArchive& archive, const QString& name);
  ~TZipXml();
  TZipXml(const TZipXml&) = delete;
  TZipXml& operator=(const TZipXml&) = delete;

  // The next token; a self-closing element gives Start then End. Throws
  // ESpreadsheetError on malformed XML, a failing inflate, or a member that
  // inflates too far.
  TToken Next();
  // The local name (after any prefix) of the element of a Start or End.
  bool Is(const char* local) const { return FName == local; }
  // An attribute of the current Start by its local name, the first one of
  // that name; raw (entities not replaced) or as text.
  QByteArrayView AttrRaw(const char* local) const;
  bool HasAttr(const char* local) const;
  QString Attr(const char* local) const;
  // The text of a Text token.
  QString TextValue() const;
  // After a Start: the text of the element and its children, to its end.
  QString ElementText();
  // After a Start: skips to the end of the element.
  void Skip();

 private:
  bool Feed();
  [[noreturn]] void Malformed(const char* what) const;
  const char* Begin() const { return FBuf.data(); }

  QString FMember;
  zip_file* FFile = nullptr;
  std::string FBuf;
  size_t FPos = 0;
  std::int64_t FInflated = 0;
  bool FEnd = false;
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

// The text of a part name relative to the folder of base ("xl/workbook.xml",
// "worksheets/sheet1.xml" -> "xl/worksheets/sheet1.xml"); an absolute target
// ("/xl/worksheets/sheet1.xml") stands for itself.
QString ResolvePartName(const QString& base, const QString& target);
