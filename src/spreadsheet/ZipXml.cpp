#include "spreadsheet/ZipXml.h"

#include <zip.h>

#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"

namespace {
constexpr zip_uint64_t kChunk = 256 * 1024;

QString TooLarge(const QString& name) {
  return QStringLiteral("文件中的“%1”解压后超过 %2 MB，可能已损坏或是恶意文件")
      .arg(name)
      .arg(kMaxInflatedBytes / (1024 * 1024));
}
}  // namespace

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

TZipXml::TZipXml(const TZipArchive& archive, const QString& name) : FName(name) {
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

bool TZipXml::Feed() {
  if (FEnd) return false;
  QByteArray chunk(int(kChunk), Qt::Uninitialized);
  const zip_int64_t n = zip_fread(FFile, chunk.data(), kChunk);
  if (n < 0) throw ESpreadsheetError(QStringLiteral("无法解压“%1”，文件已损坏").arg(FName));
  if (n == 0) {
    FEnd = true;
    return false;
  }
  FInflated += n;
  if (FInflated > kMaxInflatedBytes) throw ESpreadsheetError(TooLarge(FName));
  chunk.truncate(int(n));
  FXml.addData(chunk);
  return true;
}

QXmlStreamReader::TokenType TZipXml::Next() {
  for (;;) {
    const QXmlStreamReader::TokenType t = FXml.readNext();
    if (t != QXmlStreamReader::Invalid) return t;
    if (FXml.error() == QXmlStreamReader::PrematureEndOfDocumentError && Feed()) continue;
    if (FXml.error() == QXmlStreamReader::PrematureEndOfDocumentError && FEnd && FInflated == 0) {
      throw ESpreadsheetError(QStringLiteral("“%1”是空的").arg(FName));
    }
    throw ESpreadsheetError(QStringLiteral("“%1”不是正确的 XML（第%2行：%3）")
                                .arg(FName)
                                .arg(FXml.lineNumber())
                                .arg(FXml.errorString()));
  }
}

QString TZipXml::ElementText() {
  QString text;
  int depth = 1;
  while (depth > 0) {
    switch (Next()) {
      case QXmlStreamReader::StartElement: ++depth; break;
      case QXmlStreamReader::EndElement: --depth; break;
      case QXmlStreamReader::Characters: text += FXml.text(); break;
      case QXmlStreamReader::EndDocument: return text;
      default: break;
    }
  }
  return text;
}

void TZipXml::Skip() {
  int depth = 1;
  while (depth > 0) {
    switch (Next()) {
      case QXmlStreamReader::StartElement: ++depth; break;
      case QXmlStreamReader::EndElement: --depth; break;
      case QXmlStreamReader::EndDocument: return;
      default: break;
    }
  }
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
