// The reply assembler of the instrument line.
#include "protocol/ReplyAssembler.h"

#include <cstdio>
#include <stdexcept>

namespace {

TCircleRoad* gInstance = nullptr;

// Lengths of the fixed frames.
constexpr std::int32_t kLiveLen = kStartTest.replyLength;

// A live frame starts at p: its code and a known state byte. p has 40 bytes.
bool IsLiveFrame(const std::uint8_t* p) { return p[0] == kLiveFrameCode && IsLiveState(p[kLiveStatePos]); }

}  // namespace

// ---------------------------------------------------------------------------
// Assembler

TCircleRoad* AccessInstance(int request) {
  switch (request) {
    case 0:
      return gInstance;
    case 1:
      if (gInstance == nullptr) gInstance = new TCircleRoad();
      return gInstance;
    case 2:
      gInstance = nullptr;
      return nullptr;
    default: {
      char msg[64];
      std::snprintf(msg, sizeof(msg), "Illegal request %d in AccessInstance", request);
      throw std::invalid_argument(msg);
    }
  }
}

TCircleRoad* TCircleRoad::Instance() { return AccessInstance(1); }

TCircleRoad::TCircleRoad() : RecvF1(new TRecvF1()), RecvFA(new TRecvFA()) {
  Data.clear();
  DataLen = 0;
}

TCircleRoad::~TCircleRoad() {
  // The decoders belong to every assembler, registered or not, so they are
  // always released; only the registered one is forgotten.
  delete RecvF1;
  RecvF1 = nullptr;
  delete RecvFA;
  RecvFA = nullptr;
  if (AccessInstance(0) == this) AccessInstance(2);
}

void TCircleRoad::Reset() { Consume(DataLen); }

void TCircleRoad::Expect(std::uint8_t kind) {
  Status = kStatusWaiting;
  ExpectKind = kind;
}

void TCircleRoad::AddData(const TBuffer& bytes) { AddData(bytes.data(), bytes.size()); }

void TCircleRoad::AddData(const std::uint8_t* bytes, std::size_t count) {
  if (bytes == nullptr || count == 0) return;
  BytesAdded += count;
  Data.insert(Data.end(), bytes, bytes + count);
  DataLen = static_cast<std::int32_t>(Data.size());
  Parse();
}

void TCircleRoad::Consume(std::int32_t n) {
  if (n <= 0) {
    // Nothing to remove; a negative count never reaches past the buffer.
  } else if (n < DataLen) {
    Data.erase(Data.begin(), Data.begin() + n);
  } else {
    Data.clear();
  }
  DataLen = static_cast<std::int32_t>(Data.size());
}

namespace {

// The replies of one shape: a fixed length that starts with the code of the
// command they answer. What each one gives is taken into the assembler.
struct TFixedReply {
  std::uint8_t kind;
  const TCommandSpec* command;
  void (*take)(TCircleRoad& road);
};

const TFixedReply kFixedReplies[] = {
    {kReplyIdentify, &kIdentify,
     [](TCircleRoad& r) { r.DeviceType = r.Data[1] == 1 ? "4706" : r.Data[1] == 2 ? "mrtk" : ""; }},
    {kReplyCount, &kCount, [](TCircleRoad& r) { r.RecordCount = r.Data[1]; }},
    {kReplyRecord, &kRecord, [](TCircleRoad& r) { r.RecvF1->Decode(r.Data.data(), r.DataLen - 1); }},
    {kReplyRange, &kRange,
     [](TCircleRoad& r) {
       r.StepMode = r.Data[1];
       r.StepIndex = r.Data[2];
     }},
};

}  // namespace

void TCircleRoad::Parse() {
  for (const TFixedReply& reply : kFixedReplies) {
    if (reply.kind != ExpectKind) continue;
    // Waits for the whole reply; then either takes it or, when it starts
    // with another code, finds it invalid. Every buffered byte is used.
    if (DataLen < reply.command->replyLength) return;
    if (Data[0] == reply.command->code) {
      reply.take(*this);
      Status = kStatusDone;
    } else {
      Status = kStatusInvalid;
    }
    Consume(DataLen);
    return;
  }
  switch (ExpectKind) {
    case kReplyNone:
      Consume(DataLen);
      return;

    case kReplyLive: {
      // Scan with a cursor and remove the used bytes once at the end: the
      // effect is that of removing them one by one, without moving the rest
      // of the buffer for every skipped byte. At most 39 bytes stay behind,
      // so noise never makes the buffer grow.
      std::int32_t head = 0;
      while (DataLen - head >= kLiveLen) {
        const std::uint8_t* p = Data.data() + head;
        if (IsLiveFrame(p)) {
          RecvFA->Decode(p, DataLen - head - 1);
          head += kLiveLen;
          Status = kStatusDone;
        } else {
          head += 1;
        }
      }
      Consume(head);
      return;
    }

    case kReplyStop: {
      // Live frames still in flight before the acknowledgement are skipped
      // whole and undecoded; any other byte is skipped alone. A partial
      // frame at the head waits for its 40 bytes, so at most 39 stay behind.
      std::int32_t head = 0;
      while (DataLen - head >= 1) {
        const std::uint8_t* p = Data.data() + head;
        if (p[0] == kCmdStop) {
          Status = kStatusDone;
          Consume(DataLen);
          return;
        }
        if (p[0] == kLiveFrameCode) {
          if (DataLen - head < kLiveLen) break;
          head += IsLiveFrame(p) ? kLiveLen : 1;
        } else {
          head += 1;
        }
      }
      Consume(head);
      return;
    }

    case kReplyPrint:
    case kReplyFF:
      if (DataLen < 1) return;
      Status = Data[0] == (ExpectKind == kReplyPrint ? kCmdPrint : kCodeFF) ? kStatusDone : kStatusInvalid;
      Consume(DataLen);
      return;

    default:
      // Kind 4 (erase, nothing awaited) and kinds 10-255 have no reply. Their
      // bytes are dropped at once so the buffer never grows while nobody
      // listens; Status is left as it is (1 after Expect).
      Consume(DataLen);
      return;
  }
}
