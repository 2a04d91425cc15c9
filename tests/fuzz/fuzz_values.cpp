// libFuzzer target: the texts the results history reads values and times
// from (a record's resistance texts and its time, as a table or a file
// shows them), the identity made of a row of them, the captions that name
// a unit, and the number format codes a workbook gives its cells.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "history/HistoryImport.h"
#include "history/ResultIdentity.h"
#include "history/ResultValues.h"
#include "spreadsheet/NumberFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
  const std::optional<double> ohms = OhmsOfText(text);
  if (ohms && std::isfinite(*ohms)) {
    const double micro = *ohms * 1e6;
    (void)MicroOhmText(micro);
    (void)TypedMicroOhmText(micro);
    (void)AboveText(micro, micro / 2);
    (void)PercentAboveText(micro, 10);
  }
  const QDateTime time = TimeOfText(text);
  if (time.isValid() && (time.date().year() < 2000 || time.date().year() > 2099)) __builtin_trap();
  const QDateTime stated = ImportTimeOfText(text);
  if (stated.isValid() && (stated.date().year() < 1990 || stated.date().year() > 9999)) __builtin_trap();
  (void)LoadSecondsOfText(text);
  (void)CaptionUnit(text);
  (void)ImportColumnOf(text);
  // The text split into a row's cells.
  const QStringList cells = text.split(QLatin1Char('|'));
  if (ResultIdentity(cells).isEmpty() && cells.size() > 100000) __builtin_trap();
  // The text as a number format code, for a few numbers.
  for (const double v : {0.0, -1.5, 52.4, 1e300, 0.000123}) {
    if (FormattedNumberText(v, text).size() > text.size() * 32 + 400) __builtin_trap();
  }
  (void)FormatOfCode(text);
  return 0;
}
