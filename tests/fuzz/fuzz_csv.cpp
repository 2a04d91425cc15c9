// libFuzzer target: CSV archives (UTF-8 or GBK, comma or semicolon, quoted
// fields), read as the archive's "打开" reads them.
#include <QByteArray>

#include <cstddef>
#include <cstdint>

#include "data/CsvFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
  int rows = 0;
  const CsvFile::TCsvArchive read = CsvFile::ReadArchive(bytes, [&](const QStringView* row) {
    if (row[0].isEmpty()) __builtin_trap();  // the number, written "%2d"
    ++rows;
  });
  if (rows != read.records) __builtin_trap();
  if (read.result == CsvFile::TCsvArchive::BadNumber && read.badRecord < 2) __builtin_trap();

  // A field written by the program reads back as itself, whatever it holds.
  const QString text = CsvFile::Decode(bytes);
  const QString field = text.left(64);
  QString back;
  int n = 0;
  CsvFile::Parse(QString(CsvFile::Field(field) + QStringLiteral(",x")), u',', [&](QStringList& f) {
    if (n++ == 0) back = f.value(0);
  });
  if (back != field) __builtin_trap();
  return 0;
}
