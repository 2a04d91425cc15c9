#include "comm/InstrumentLink.h"

#include <algorithm>

#include "platform/EventPump.h"
#include "platform/MessageService.h"
#include "platform/SerialPort.h"

TInstrumentLink::TInstrumentLink(std::unique_ptr<ISerialPort> port, std::function<QString(const QString&)> resolver)
    : FPort(std::move(port)) {
  FPort->SetPort(QStringLiteral("COM1"));
  FPort->SetBaudRate(9600);
  FPort->SetDataBits(8);
  FPort->SetParity(TParity::None);
  FPort->SetStopBits(TStopBits::One);
  FPort->SetDeviceResolver(std::move(resolver));
  FPort->OnRxChar = [this](int count) { Received(count); };
}

TInstrumentLink::~TInstrumentLink() {
  FPort->OnRxChar = nullptr;
  FPort->Close();
}

// ---- The port ------------------------------------------------------------------------

bool TInstrumentLink::Open(std::int32_t commPort, QString& errorText, QString* detail) {
  if (FPort->IsOpen()) FPort->Close();
  try {
    FPort->SetPort(QStringLiteral("COM%1").arg(commPort));
    FPort->SetBaudRate(9600);
    FPort->SetDataBits(8);
    FPort->SetParity(TParity::None);
    FPort->SetStopBits(TStopBits::One);
    FPort->Open();
  } catch (const EAppError& e) {
    errorText = kPortError;
    if (detail) *detail = e.Text();
    return false;
  } catch (const std::exception&) {
    errorText = kPortError;
    return false;
  }
  return true;
}

void TInstrumentLink::Close() {
  if (FPort->IsOpen()) FPort->Close();
}

bool TInstrumentLink::IsOpen() const { return FPort->IsOpen(); }

void TInstrumentLink::Received(int count) {
  Guarded([this, count] {
    const TBuffer bytes = FPort->Read(count);
    if (!bytes.empty()) FRoad.AddData(bytes);
  });
}

void TInstrumentLink::CheckLine() const {
  const QString error = FPort->LineError();
  if (!error.isEmpty()) throw EAppError(error);
}

void TInstrumentLink::PumpLine(std::uint32_t maxSleepMs) {
  PumpOrSleep(maxSleepMs);
  CheckLine();
}

// ---- Steps of an exchange -----------------------------------------------------------

void TInstrumentLink::SendBuffer(const TBuffer& frame, std::int32_t count) {
  if (count <= 0) return;
  count = std::min(count, static_cast<std::int32_t>(frame.size()));
  FPort->Write(frame.data(), count);
}

bool TInstrumentLink::WaitReply(std::uint32_t timeoutMs) {
  WaitFor(
      [&] {
        CheckLine();
        return FRoad.Status != kStatusWaiting;
      },
      timeoutMs);
  return FRoad.Status == kStatusDone;
}

bool TInstrumentLink::Exchange(const TBuffer& frame, std::uint8_t kind, std::uint32_t timeoutMs) {
  FRoad.Reset();
  FRoad.Expect(kind);
  SendBuffer(frame, static_cast<std::int32_t>(frame.size()));
  return WaitReply(timeoutMs);
}

TExchange TInstrumentLink::Outcome(bool done) const {
  if (done) return TExchange::Done;
  return FRoad.Status == kStatusInvalid ? TExchange::Invalid : TExchange::TimedOut;
}

// ---- Exchanges ------------------------------------------------------------------------

TExchange TInstrumentLink::Identify(std::string* deviceType) {
  const TExchange out = Outcome(Exchange(Frames::Identify(), kIdentify.replyKind, kIdentify.timeoutMs));
  if (out == TExchange::Done && deviceType) *deviceType = FRoad.DeviceType;
  return out;
}

TExchange TInstrumentLink::Count(int& records) {
  const TExchange out = Outcome(Exchange(Frames::Count(), kCount.replyKind, kCount.timeoutMs));
  if (out == TExchange::Done) records = FRoad.RecordCount;
  return out;
}

TExchange TInstrumentLink::ReadRecord(std::uint8_t index, TRecvF1& record) {
  const TExchange out = Outcome(Exchange(Frames::Record(index), kRecord.replyKind, kRecord.timeoutMs));
  if (out == TExchange::Done) record = *FRoad.RecvF1;
  return out;
}

void TInstrumentLink::Erase() {
  FRoad.Reset();
  FRoad.Expect(kErase.replyKind);
  SendBuffer(Frames::Erase(), kErase.frameLength);
}

TExchange TInstrumentLink::ReadRange(int& stepMode, int& stepIndex) {
  const TExchange out = Outcome(Exchange(Frames::Range(), kRange.replyKind, kRange.timeoutMs));
  if (out == TExchange::Done) {
    stepMode = FRoad.StepMode;
    stepIndex = FRoad.StepIndex;
  }
  return out;
}

TExchange TInstrumentLink::Print(std::uint8_t record) {
  FRoad.Reset();
  FRoad.Expect(kPrint.replyKind);
  SendBuffer(Frames::Print(record), kPrint.frameLength);
  return Outcome(WaitReply(kPrint.timeoutMs));
}

TExchange TInstrumentLink::Stop() {
  // Live frames still in flight are passed over until the acknowledgement;
  // what is buffered of them stays, so that a frame cut in two is known.
  FRoad.Expect(kStop.replyKind);
  SendBuffer(Frames::Stop(), kStop.frameLength);
  return Outcome(WaitReply(kStop.timeoutMs));
}

TExchange TInstrumentLink::StopAgain() {
  FRoad.Reset();
  FRoad.Expect(kStop.replyKind);
  SendBuffer(Frames::Stop(), kStop.frameLength);
  return Outcome(WaitReply(kStopAloneMs));
}

void TInstrumentLink::Idle() { FRoad.Expect(kReplyNone); }

void TInstrumentLink::AbandonTest() {
  FRoad.Expect(kReplyNone);
  try {
    SendBuffer(Frames::Stop(), kStop.frameLength);
  } catch (const EAppError&) {
    // The line failed as well: nothing more can be done for the instrument.
  }
}

// ---- The live test ------------------------------------------------------------------

void TInstrumentLink::StartTest(const TTestParams& params) {
  FRoad.Reset();
  FRoad.Expect(kStartTest.replyKind);
  SendBuffer(Frames::StartTest(params), kStartTest.frameLength);
}

std::optional<TRecvFA> TInstrumentLink::PumpLive(std::uint32_t maxWaitMs) {
  // Sleeps until an event arrives or the wait is over.
  PumpLine(maxWaitMs);
  if (FRoad.Status != kStatusDone) return std::nullopt;
  // The next frame may complete while this one is shown.
  FRoad.Expect(kStartTest.replyKind);
  return *FRoad.RecvFA;
}

// ---- The serial number ----------------------------------------------------------------

namespace {
constexpr std::size_t kSeriesBufferSize = 200;
}  // namespace

bool TInstrumentLink::ReadSerialNumber(const TCommSettings& settings, TSeriesNumber& number) {
  TBuffer buffer(kSeriesBufferSize, 0);
  const TBuffer frame = Frames::ReadSeries();
  std::copy(frame.begin(), frame.end(), buffer.begin());
  if (!SendCommand(settings, kReadSeries.code, buffer, kReadSeries.replyLength, kReadSeries.frameLength)) return false;
  std::copy(buffer.begin() + 1, buffer.begin() + 1 + kSeriesBytes, number.begin());
  return true;
}

bool TInstrumentLink::WriteSerialNumber(const TCommSettings& settings, const TSeriesNumber& number) {
  TBuffer buffer(kSeriesBufferSize, 0);
  const TBuffer frame = Frames::WriteSeries(number);
  std::copy(frame.begin(), frame.end(), buffer.begin());
  return SendCommand(settings, kWriteSeries.code, buffer, kWriteSeries.replyLength, kWriteSeries.frameLength);
}
