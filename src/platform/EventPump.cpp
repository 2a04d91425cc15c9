#include "platform/EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include "platform/Tick.h"

void ProcessPendingEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void PumpOrSleep(std::uint32_t maxSleepMs) {
  QCoreApplication::sendPostedEvents();
  if (maxSleepMs == 0) {
    ProcessPendingEvents();
    return;
  }
  // A single-shot timer bounds the sleep; any other event ends it earlier.
  QTimer wake;
  wake.setSingleShot(true);
  wake.setTimerType(Qt::PreciseTimer);
  wake.start(static_cast<int>(maxSleepMs > 0x7FFFFFFFu ? 0x7FFFFFFFu : maxSleepMs));
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

bool WaitFor(const std::function<bool()>& done, std::uint32_t timeoutMs) {
  const std::uint32_t start = GetTickCount();
  for (;;) {
    const std::uint32_t elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return done();
    if (done()) return true;
    PumpOrSleep(timeoutMs - elapsed);
  }
}
