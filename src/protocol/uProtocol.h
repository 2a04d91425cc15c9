#pragma once
// The instrument's wire protocol in one place: command codes, frame and reply
// lengths, the reply kind each command awaits, the caller's time-outs, the
// states of a live frame and the instrument's 62-symbol text code. The
// program, the simulator and the decoder take every such fact from here, so a
// change of the wire format is made once.
//
// Framing: no start marker, length or checksum. Every frame starts with a
// code 0xF0..0xFF; a reply starts with the code of the command it answers,
// except the live frames that answer the start of a test (kLiveFrameCode).
// Multi-byte values are IEEE-754 singles, big-endian.
#include <cstdint>
#include <vector>

// Every command frame and every received chunk travels as a TBuffer.
using TBuffer = std::vector<std::uint8_t>;

// Reply kinds handed to TCircleRoad::Expect.
enum : std::uint8_t {
  kReplyNone = 0,      // idle: every byte is discarded
  kReplyIdentify = 1,  // after kCmdIdentify
  kReplyCount = 2,     // after kCmdCount
  kReplyRecord = 3,    // after kCmdRecord
  kReplyErase = 4,     // after kCmdErase, nothing is awaited
  kReplyLive = 5,      // after kCmdStartTest, live frames
  kReplyRange = 6,     // after kCmdRange
  kReplyStop = 7,      // after kCmdStop
  kReplyPrint = 8,     // after kCmdPrint
  kReplyFF = 9,        // kCodeFF, awaited by no command of this program
};

// Every frame starts with a code from kFirstCode to 0xFF.
inline constexpr std::uint8_t kFirstCode = 0xF0;

// First bytes of frames.
enum : std::uint8_t {
  kCmdCount = 0xF0,        // number of stored records
  kCmdRecord = 0xF1,       // stored record n (0-based)
  kCmdErase = 0xF2,        // erase every stored record
  kCmdRange = 0xF3,        // current ranges offered and selected
  kCmdStartTest = 0xF4,    // start a live test: load time, range, phase
  kCmdReadSeries = 0xF6,   // read the serial number
  kCmdWriteSeries = 0xF7,  // write the serial number
  kCmdIdentify = 0xF8,     // identify the instrument
  kLiveFrameCode = 0xFA,   // a live frame (sent by the instrument only)
  kCmdStop = 0xFC,         // stop the running live test
  kCmdPrint = 0xFE,        // print on the instrument's printer (record n, 1-based; 0 = last live test)
  kCodeFF = 0xFF,          // a one-byte reply no command awaits
};

// How the blocking command transaction moves a command: written only, or
// written and its reply read back. It knows two codes the program never
// sends (0xF5, 0xF9) and treats the live frame code as a command.
enum class TCommandClass { WriteOnly, WriteRead, NoTransfer };

constexpr TCommandClass CommandClassOf(std::uint8_t code) {
  switch (code) {
    case kCmdErase:
    case kCmdStartTest:
    case kCmdWriteSeries:
    case 0xF9:
      return TCommandClass::WriteOnly;
    case kCmdCount:
    case kCmdRecord:
    case kCmdRange:
    case 0xF5:
    case kCmdReadSeries:
    case kCmdIdentify:
    case kLiveFrameCode:
      return TCommandClass::WriteRead;
    default:
      return TCommandClass::NoTransfer;
  }
}

// One command as the program uses it.
struct TCommandSpec {
  std::uint8_t code;
  std::uint8_t frameLength;  // bytes the PC sends, code included
  std::uint8_t replyKind;    // what the assembler awaits; kReplyNone for the blocking transaction
  std::uint8_t replyLength;  // bytes of the reply (of one live frame); 0 when nothing comes back
  std::uint32_t timeoutMs;   // the caller's wait for the reply (the first live frame); 0 = no wait
};

inline constexpr TCommandSpec kIdentify{kCmdIdentify, 1, kReplyIdentify, 2, 500};
inline constexpr TCommandSpec kCount{kCmdCount, 1, kReplyCount, 2, 500};
inline constexpr TCommandSpec kRecord{kCmdRecord, 2, kReplyRecord, 46, 2000};
inline constexpr TCommandSpec kErase{kCmdErase, 1, kReplyErase, 0, 0};
inline constexpr TCommandSpec kRange{kCmdRange, 1, kReplyRange, 3, 500};
inline constexpr TCommandSpec kStartTest{kCmdStartTest, 4, kReplyLive, 40, 15000};
inline constexpr TCommandSpec kStop{kCmdStop, 1, kReplyStop, 1, 3000};
inline constexpr TCommandSpec kPrint{kCmdPrint, 2, kReplyPrint, 1, 2000};
// The serial number goes through the blocking command transaction, which has
// time-outs of its own.
inline constexpr TCommandSpec kReadSeries{kCmdReadSeries, 1, kReplyNone, 9, 0};
inline constexpr TCommandSpec kWriteSeries{kCmdWriteSeries, 9, kReplyNone, 0, 0};

inline constexpr TCommandSpec kCommands[] = {kCount, kRecord, kErase,       kRange,        kStartTest,
                                             kStop,  kPrint,  kReadSeries, kWriteSeries, kIdentify};

// The entry of a command code, or null for a code the program never sends.
constexpr const TCommandSpec* FindCommand(std::uint8_t code) {
  for (const TCommandSpec& c : kCommands) {
    if (c.code == code) return &c;
  }
  return nullptr;
}

// Waits of the live test besides the first frame's.
inline constexpr std::uint32_t kNextLiveFrameMs = 3000;  // from one live frame to the next
inline constexpr std::uint32_t kStopAloneMs = 500;       // a stop sent again outside a running test

// Stored record (reply to kCmdRecord), byte positions. Date bytes are shown
// as two hexadecimal digits each; texts are 8 bytes of the 62-symbol code;
// resistances of channels A, B, C are 4-byte singles in ohms.
namespace RecordAt {
inline constexpr int kMinute = 1, kHour = 2, kDay = 4, kMonth = 5, kYear = 6;
inline constexpr int kDevice = 7, kTester = 15, kPlace = 23, kTextBytes = 8;
inline constexpr int kLoadTime = 31, kRange = 32, kPhase = 33;
inline constexpr int kResistance = 34;  // A; B and C follow 4 bytes apart
}  // namespace RecordAt

// Live frame, byte positions: current, voltage and resistance of channels
// A, B, C (4-byte singles, 4 bytes apart), elapsed minutes and seconds, state.
namespace LiveAt {
inline constexpr int kCurrent = 1, kVoltage = 13, kResistance = 25;
inline constexpr int kMinutes = 37, kSeconds = 38, kState = 39;
}  // namespace LiveAt

// Live frame: state byte at kLiveStatePos.
enum : std::uint8_t {
  kLiveWiringError = 0x81,
  kLiveOverRange = 0x82,
  kLiveFinished = 0x83,  // final values
  kLiveMeasuring = 0x88, // intermediate values
};
inline constexpr int kLiveStatePos = LiveAt::kState;

constexpr bool IsLiveState(std::uint8_t state) {
  return state == kLiveWiringError || state == kLiveOverRange || state == kLiveFinished ||
         state == kLiveMeasuring;
}

// Serial number: 8 bytes after the code.
inline constexpr int kSeriesBytes = 8;

// The instrument's 62-symbol text code of stored records: 0-9 the digits,
// 10-35 'A'-'Z', 36-61 'a'-'z'; any other value stands for no character.
inline constexpr std::uint8_t kNoCharacter = 0xFF;

constexpr char CharOfCode(std::uint8_t code) {
  if (code <= 9) return static_cast<char>('0' + code);
  if (code <= 35) return static_cast<char>('A' + code - 10);
  if (code <= 61) return static_cast<char>('a' + code - 36);
  return '\0';
}

constexpr std::uint8_t CodeOfChar(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'Z') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'z') return static_cast<std::uint8_t>(c - 'a' + 36);
  return kNoCharacter;
}
