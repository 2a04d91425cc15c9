#pragma once
// Decoders of the instrument's stored records and live frames, and the
// value texts they show: resistances, voltages and currents scaled to their
// unit, times, texts of the instrument's 62-symbol code. No Qt.
#include <cstdint>
#include <string>

#include "protocol/uProtocol.h"

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
