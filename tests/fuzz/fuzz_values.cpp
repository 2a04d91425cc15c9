// libFuzzer target: the texts the results history reads values and times
// from (a record's resistance texts and its time, as a table or a file
// shows them).
#include <QByteArray>
#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "history/ResultValues.h"

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
  return 0;
}
