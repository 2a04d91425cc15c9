// libFuzzer target: test-data text files (GBK, "key=value" lines).
#include <QByteArray>

#include <cstddef>
#include <cstdint>

#include "data/TextFile.h"
#include "platform/Gbk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text = FromGbk(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)));
  int rows = 0;
  const int records = TextFile::Records(text, [&](const QStringList& row) {
    if (row.size() != 11) __builtin_trap();
    ++rows;
  });
  // Every record is handed on, and one row more only when none began.
  if (rows != (records == 0 ? 1 : records)) __builtin_trap();
  return 0;
}
