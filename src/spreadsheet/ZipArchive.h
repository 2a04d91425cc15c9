#pragma once
// A zip archive in memory (libzip) and its members read as they inflate: a
// member is never held whole, and one that inflates beyond kMaxInflatedBytes
// is refused as soon as its inflated bytes pass the limit, whatever the
// archive's directory claims. ZipXml.h reads a member as XML.
#include <QByteArray>
#include <QString>

#include <cstdint>

#include "spreadsheet/XmlPull.h"

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

// One member's bytes as they inflate.
class TZipMember : public IByteSource {
 public:
  // Throws ESpreadsheetError when the member is missing, cannot be opened, or
  // its directory entry already declares more than kMaxInflatedBytes.
  TZipMember(const TZipArchive& archive, const QString& name);
  ~TZipMember() override;
  TZipMember(const TZipMember&) = delete;
  TZipMember& operator=(const TZipMember&) = delete;

  // Throws when the member cannot be inflated or passes kMaxInflatedBytes.
  std::int64_t Read(char* into, std::int64_t max) override;

 private:
  QString FName;
  zip_file* FFile = nullptr;
  std::int64_t FInflated = 0;
};

// The text of a part name relative to the folder of base ("xl/workbook.xml",
// "worksheets/sheet1.xml" -> "xl/worksheets/sheet1.xml"); an absolute target
// ("/xl/worksheets/sheet1.xml") stands for itself.
QString ResolvePartName(const QString& base, const QString& target);
