#pragma once
// A zip archive in memory (libzip) whose members are read as XML while they
// are inflated: a member is never held whole, and one that inflates beyond
// kMaxInflatedBytes ends the read.
#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <cstdint>
#include <memory>

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

// Pulls XML tokens from one member, inflating more as the parser needs it.
class TZipXml {
 public:
  // Throws ESpreadsheetError when the member is missing or cannot be read.
  TZipXml(const TZipArchive& archive, const QString& name);
  ~TZipXml();
  TZipXml(const TZipXml&) = delete;
  TZipXml& operator=(const TZipXml&) = delete;

  // The next token; EndDocument at the end. Throws ESpreadsheetError on
  // malformed XML, a failing inflate, or a member that inflates too far.
  QXmlStreamReader::TokenType Next();
  QXmlStreamReader& Xml() { return FXml; }
  // Reads the text of the current element and its children up to its end.
  QString ElementText();
  // Skips to the end of the current element.
  void Skip();

 private:
  bool Feed();

  QString FName;
  zip_file* FFile = nullptr;
  QXmlStreamReader FXml;
  std::int64_t FInflated = 0;
  bool FEnd = false;
};

// The text of a part name relative to the folder of base ("xl/workbook.xml",
// "worksheets/sheet1.xml" -> "xl/worksheets/sheet1.xml"); an absolute target
// ("/xl/worksheets/sheet1.xml") stands for itself.
QString ResolvePartName(const QString& base, const QString& target);
