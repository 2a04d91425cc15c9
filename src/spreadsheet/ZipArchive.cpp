#include "spreadsheet/ZipArchive.h"

#include <QStringList>

#include <zip.h>

#include "spreadsheet/SheetReaders.h"
#include "spreadsheet/Spreadsheet.h"

namespace {
QString TooLarge(const QString& name) {
  return QStringLiteral("文件中的“%1”解压后超过 %2 MB，可能已损坏或是恶意文件")
      .arg(name)
      .arg(kMaxInflatedBytes / (1024 * 1024));
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

// ---- member -----------------------------------------------------------------

TZipMember::TZipMember(const TZipArchive& archive, const QString& name) : FName(name) {
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

TZipMember::~TZipMember() {
  if (FFile) zip_fclose(FFile);
}

std::int64_t TZipMember::Read(char* into, std::int64_t max) {
  const zip_int64_t n = zip_fread(FFile, into, zip_uint64_t(max));
  if (n < 0) throw ESpreadsheetError(QStringLiteral("无法解压“%1”，文件已损坏").arg(FName));
  FInflated += n;
  if (FInflated > kMaxInflatedBytes) throw ESpreadsheetError(TooLarge(FName));
  return n;
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
