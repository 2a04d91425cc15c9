#pragma once
// The conversation with the instrument over the main serial link. The link
// owns the port and a reply assembler of its own; every exchange is driven
// by the protocol table (uProtocol.h) and tells its outcome as a value, which
// the windows turn into the texts they show. No window touches bytes, reply
// kinds or the assembler.
//
// An exchange follows one pattern: reset the assembler, name the awaited
// reply, write the frame, then wait for the reply while events keep flowing
// (the port hands received bytes to the assembler as they arrive). Only one
// exchange may be outstanding at a time. A line that fails while open
// (device unplugged, write refused) throws EAppError from the exchange.
//
// The serial number goes through the blocking command transaction on a
// channel of its own (UCommUnit.h), with the settings handed in.
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "comm/UCommUnit.h"
#include "protocol/Frames.h"
#include "protocol/ReplyAssembler.h"

class ISerialPort;

// How an exchange ended.
enum class TExchange {
  Done,      // the reply came, complete and valid
  Invalid,   // a reply came, but not the awaited one
  TimedOut,  // nothing (or not all of it) came in time
};

class TInstrumentLink {
 public:
  // The port of the main window; its device is looked up with resolver
  // ("COM3" -> "/dev/ttyUSB0").
  TInstrumentLink(std::unique_ptr<ISerialPort> port, std::function<QString(const QString&)> resolver);
  ~TInstrumentLink();
  TInstrumentLink(const TInstrumentLink&) = delete;
  TInstrumentLink& operator=(const TInstrumentLink&) = delete;

  // ---- The port ------------------------------------------------------------------
  // Closes the port when open, then opens "COM" + commPort at 9600 baud, 8
  // data bits, no parity, one stop bit. On failure returns false with the
  // error text "端口不存在，或端口已被打开。" and, in detail, the device tried and
  // why it failed.
  bool Open(std::int32_t commPort, QString& errorText, QString* detail = nullptr);
  void Close();
  bool IsOpen() const;
  ISerialPort* Port() const { return FPort.get(); }
  // Throws EAppError when the line failed since the port was opened.
  void CheckLine() const;
  // Handles pending events once; sleeps up to maxSleepMs while none is
  // pending. Throws EAppError when the open line has failed.
  void PumpLine(std::uint32_t maxSleepMs);

  // ---- Exchanges of the main window (port open) -------------------------------------
  // The identification request; the instrument's type ("4706", "mrtk") when it answered.
  TExchange Identify(std::string* deviceType = nullptr);
  // The number of stored records.
  TExchange Count(int& records);
  // Stored record index (0-based, from the newest).
  TExchange ReadRecord(std::uint8_t index, TRecvF1& record);
  // Erases every stored record; nothing comes back.
  void Erase();
  // The current ranges offered (stepMode 0: 100 A only, 1: 100 A and 200 A)
  // and the one selected.
  TExchange ReadRange(int& stepMode, int& stepIndex);
  // Prints record n on the instrument's printer (0: the last live test).
  TExchange Print(std::uint8_t record);
  // Sends the stop of a running live test and waits for its
  // acknowledgement; live frames still under way are passed over.
  TExchange Stop();
  // The stop sent again outside a running test (an earlier one was not
  // acknowledged): a shorter wait.
  TExchange StopAgain();
  // Nothing is awaited any more: bytes that still arrive are dropped.
  void Idle();
  // The program gives up on a running live test (its frames stopped, an
  // error frame): the stop goes out once so that the instrument does not
  // keep driving its current, without waiting for the acknowledgement; a
  // write that fails is passed over. Nothing is awaited afterwards.
  void AbandonTest();

  // ---- The live test ------------------------------------------------------------------
  // Sends the start of a live test; live frames are awaited from now on.
  void StartTest(const TTestParams& params);
  // Handles events (sleeping up to maxWaitMs while none is pending); the
  // latest live frame when one completed meanwhile, and the next one is
  // awaited. Throws EAppError when the line fails.
  std::optional<TRecvFA> PumpLive(std::uint32_t maxWaitMs);

  // ---- The serial number (blocking transaction, a channel of its own) -----------------
  static bool ReadSerialNumber(const TCommSettings& settings, TSeriesNumber& number);
  static bool WriteSerialNumber(const TCommSettings& settings, const TSeriesNumber& number);

  // The reply assembler (bytes received and the last replies, for
  // diagnostics and tests).
  const TCircleRoad& Assembler() const { return FRoad; }

  // Low-level steps of an exchange, for callers that time their own waits.
  // Writes the first count bytes of frame as one write; a failing write
  // throws EAppError.
  void SendBuffer(const TBuffer& frame, std::int32_t count);
  // Waits up to timeoutMs for the awaited reply, keeping events flowing;
  // true when it is complete and valid. Throws EAppError when the line fails.
  bool WaitReply(std::uint32_t timeoutMs);
  // One exchange: reset the assembler, await kind, send frame, wait.
  bool Exchange(const TBuffer& frame, std::uint8_t kind, std::uint32_t timeoutMs);
  // Awaits kind from now on (bytes buffered are kept).
  void Expect(std::uint8_t kind) { FRoad.Expect(kind); }

 private:
  TExchange Outcome(bool done) const;
  void Received(int count);

  std::unique_ptr<ISerialPort> FPort;
  TCircleRoad FRoad;
};

// Texts of the link: a port that does not open, and any exchange that
// failed, whatever the cause.
inline const QString kPortError = QStringLiteral("端口不存在，或端口已被打开。");
inline const QString kCommFailed = QStringLiteral("通讯失败！");
