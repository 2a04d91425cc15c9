#pragma once
// Instrument simulator core: bytes from the PC in, timed reply bytes out.
//
// The core has no clock and no I/O of its own. The caller hands it every
// byte it reads from the line together with the current time, and asks it
// which reply bytes are due by a given time. Every reply is laid out on a
// virtual serial line: it starts when it is ready and the line is free, and
// its chunks are due when their last byte would have left a UART running at
// the configured baud rate (8N1, 10 bits per byte).
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A fault bound to a command: every occurrence (Occurrence 0) or only the
// Occurrence-th frame of that command (1-based). Length is the byte count of
// truncate and hang-up faults.
struct TSimFault {
  std::uint8_t Command = 0;
  int Occurrence = 0;
  std::size_t Length = 0;
};

struct TSimConfig {
  std::uint8_t DeviceType = 1;     // byte 1 of the F8 reply
  int Records = 3;                 // stored records, 0..255
  std::uint8_t RangeMode = 1;      // byte 1 of the F3 reply
  std::uint8_t RangeSelected = 0;  // byte 2 of the F3 reply
  std::uint32_t IntervalMs = 1000; // between live frames
  std::uint32_t PrintDelayMs = 1500;
  std::array<std::uint8_t, 8> Serial{{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

  std::vector<TSimFault> Mute;      // command handled, reply left out
  std::vector<TSimFault> Corrupt;   // first reply byte replaced by 0x00
  std::vector<TSimFault> Truncate;  // only the first Length reply bytes
  std::vector<TSimFault> Hangup;    // Length reply bytes, then the line closes

  int Noise = 0;                          // noise bytes (below every code) before every reply
  std::optional<std::uint64_t> ChunkSeed; // split replies into random chunks
  std::uint32_t Baud = 9600;              // 0: no pacing
  std::map<int, std::uint8_t> LiveStates; // live frame number (1-based) -> state byte
  std::optional<int> SilenceAfter;        // no live frames after this one
  int Burst = 0;                          // first frames sent back to back
  bool FixedValues = false;               // live values without jitter
  bool Step = false;                      // live frames wait for ReleaseLiveFrame
};

// Reply bytes due at DueUs (the moment their last byte is on the line).
struct TimedChunk {
  std::uint64_t DueUs = 0;
  std::vector<std::uint8_t> Bytes;
  bool EndOfReply = false;  // the last chunk of one reply (or live frame)
  bool Hangup = false;      // close the line once these bytes are out
};

// One command frame as received from the PC.
struct TSimFrame {
  std::uint64_t AtUs = 0;
  std::vector<std::uint8_t> Bytes;
};

class TSimCore {
 public:
  explicit TSimCore(TSimConfig config = {});

  // Bytes from the PC. Returns every frame completed by them, in order.
  std::vector<TSimFrame> Receive(const std::uint8_t* p, std::size_t n, std::uint64_t nowUs);
  // Reply chunks due by nowUs, oldest first. Each chunk is returned once.
  std::vector<TimedChunk> Poll(std::uint64_t nowUs);
  // Due time of the next chunk; empty when nothing is scheduled.
  std::optional<std::uint64_t> NextDueUs() const;
  // Step mode: the next held live frame becomes ready at nowUs; false when
  // none is held.
  bool ReleaseLiveFrame(std::uint64_t nowUs);

  const TSimConfig& Config() const { return FConfig; }
  int RecordCount() const { return FRecordCount; }
  const std::array<std::uint8_t, 8>& Serial() const { return FSerial; }
  // A live test has been started and neither stopped nor finished.
  bool LiveRunning() const;
  // The hang-up of a --hangup fault is on the line; nothing follows it.
  bool HungUp() const { return FClosed; }
  // Bytes of an incomplete frame waiting for the rest.
  std::size_t PendingInput() const { return FInput.size(); }

  // Length of the command frame that starts with this byte (1 for unknown bytes).
  static std::size_t FrameLength(std::uint8_t first);
  // The 46-byte stored record n (F1 reply); depends on n alone.
  static std::vector<std::uint8_t> RecordFrame(int n);
  // Upper-case hex bytes separated by blanks: "F1 02".
  static std::string HexLine(const std::uint8_t* p, std::size_t n);
  // Line time of n bytes at this baud rate, microseconds.
  static std::uint64_t LineTimeUs(std::size_t n, std::uint32_t baud);

 private:
  struct TReply {
    std::uint64_t ReadyUs = 0;
    std::vector<std::uint8_t> Bytes;
    bool Live = false;
    bool Terminal = false;  // a live frame that ends the test
    bool Hangup = false;
    std::vector<std::size_t> ChunkSizes;       // sum = Bytes.size()
    std::vector<std::uint32_t> PausesUs;       // before each chunk, [0] = 0
  };

  void Advance(std::uint64_t nowUs);
  void Handle(const std::vector<std::uint8_t>& frame, std::uint64_t nowUs);
  void StartLive(std::uint8_t t, std::uint8_t r, std::uint8_t p, std::uint64_t nowUs,
                 std::vector<TReply>& out);
  std::vector<std::uint8_t> LiveFrame(int k, int elapsed, std::uint8_t r, std::uint8_t p,
                                      std::uint8_t state) const;
  void ApplyFaults(std::uint8_t cmd, int occurrence, std::vector<TReply>& replies,
                   std::uint64_t nowUs);
  void Enqueue(TReply reply);
  void Commit(const TReply& reply, std::uint64_t startUs);
  std::uint64_t NextRandom();

  TSimConfig FConfig;
  int FRecordCount = 0;
  std::array<std::uint8_t, 8> FSerial{};
  std::vector<std::uint8_t> FInput;
  std::map<std::uint8_t, int> FSeen;  // frames received per command
  std::deque<TReply> FQueue;          // ready-ordered, not yet on the line
  std::deque<TimedChunk> FLine;       // on the line, in due order
  std::uint64_t FLineFreeUs = 0;
  std::uint64_t FRandom = 0;          // chunking generator state
  std::uint32_t FLiveSeed = 0;        // jitter of live values
  bool FLiveActive = false;           // started, not stopped
  bool FLiveSilent = false;           // runs on without further frames
  std::uint64_t FNoise = 0;           // noise generator counter
  bool FClosed = false;               // the line has been hung up
};
