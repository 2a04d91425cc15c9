#pragma once
// The reply assembler of the instrument line: turns the bytes that arrive on
// the main serial line into replies of the awaited kind. It has no Qt
// dependency and no clock: callers poll Status while they keep their own
// event loop alive. Each instrument link owns an assembler of its own.
#include <cstdint>
#include <string>

#include "protocol/Records.h"
#include "protocol/uProtocol.h"

// Status values.
enum : std::uint8_t { kStatusDone = 0, kStatusWaiting = 1, kStatusInvalid = 2 };

class TCircleRoad {
 public:
  TCircleRoad();
  // Destroys RecvF1 and RecvFA; the registered instance also forgets itself.
  ~TCircleRoad();
  TCircleRoad(const TCircleRoad&) = delete;
  TCircleRoad& operator=(const TCircleRoad&) = delete;

  // The single assembler of the program, created on first use.
  static TCircleRoad* Instance();

  // Reset removes every buffered byte and keeps ExpectKind and Status.
  // Expect sets Status to 1 and the awaited kind; buffered bytes are parsed
  // under it when the next chunk arrives. AddData ignores an empty chunk.
  // Kind 4 and kinds 10-255 await no reply: their bytes are dropped.
  void Reset();
  void Expect(std::uint8_t kind);
  void AddData(const TBuffer& bytes);
  void AddData(const std::uint8_t* bytes, std::size_t count);
  // Removes the first n bytes (all when n reaches the buffered length;
  // nothing when n is 0 or negative).
  void Consume(std::int32_t n);

  std::uint8_t ExpectKind = 0;
  std::uint8_t Status = 0;
  // Bytes handed to AddData since the assembler was made (for diagnostics
  // and tests; the assembler itself does not use it).
  std::uint64_t BytesAdded = 0;
  std::int32_t DataLen = 0;
  TBuffer Data;
  std::string DeviceType;
  std::int32_t RecordCount = 0;
  std::int32_t StepMode = 0;
  std::int32_t StepIndex = 0;
  TRecvF1* RecvF1 = nullptr;
  TRecvFA* RecvFA = nullptr;

 private:
  void Parse();
};

// 0: the current instance or null; 1: creates it when missing; 2: forgets
// it. Any other request throws std::invalid_argument with the message
// "Illegal request %d in AccessInstance".
TCircleRoad* AccessInstance(int request);
