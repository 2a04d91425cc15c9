#pragma once
// Reply assembler and record decoders of the instrument line.
//
// The assembler turns the bytes that arrive on the main serial line into
// replies of the awaited kind. It has no Qt dependency and no clock: callers
// poll Status while they keep their own event loop alive.
#include <cstdint>
#include <string>

#include "protocol/uProtocol.h"
#include "protocol/uPublic.h"

// Status values.
enum : std::uint8_t { kStatusDone = 0, kStatusWaiting = 1, kStatusInvalid = 2 };

// Texts are UTF-8 in memory; callers convert to GBK where a byte count or a
// file needs it.

// Value kinds for FloatText.
enum : int { kValueCurrent = 1, kValueVoltage = 2, kValueResistance = 3 };

// The big-endian single at frame[pos..pos+3].
float FloatValue(const std::uint8_t* frame, int pos);
// Value text of the big-endian single at frame[pos..pos+3].
std::string FloatText(const std::uint8_t* frame, int pos, int kind);
// Scaled text of a value: unit1 for magnitudes of 1 and more, unit2 for
// thousandths, unit3 for millionths; an empty unit means that scale is unused.
std::string FormatValue(const std::string& unit1, const std::string& unit2,
                        const std::string& unit3, float value);

class TRecvF1 {
 public:
  TRecvF1() { Clear(); }
  void Clear();
  // Decodes the 46-byte stored record at frame[0..45]; highIndex is the
  // highest valid index of frame (at least 45). A shorter frame is not read:
  // every text is left empty.
  void Decode(const std::uint8_t* frame, int highIndex);

  std::string TestDateTime;
  std::string DeviceNo;
  std::string Tester;
  std::string TestPlace;
  std::string LoadTimeText;
  std::string CurrentStep;
  std::string Phase;
  std::string ResistanceA;
  std::string ResistanceB;
  std::string ResistanceC;
  // The resistances as the frame holds them, in ohms; NaN when cleared.
  float OhmA, OhmB, OhmC;
};

class TRecvFA {
 public:
  TRecvFA() { Clear(); }
  void Clear();
  // Decodes the 40-byte live frame at frame[0..39]; a frame whose highIndex
  // is below 39 is not read and leaves the fields cleared.
  void Decode(const std::uint8_t* frame, int highIndex);

  std::string CurrentA;
  std::string CurrentB;
  std::string CurrentC;
  std::string VoltageA;
  std::string VoltageB;
  std::string VoltageC;
  std::string ResistanceA;
  std::string ResistanceB;
  std::string ResistanceC;
  float OhmA, OhmB, OhmC;  // as in TRecvF1
  std::string LoadTimeText;
  std::int32_t LoadSeconds = 0;
  std::int32_t State = 0;
};

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
