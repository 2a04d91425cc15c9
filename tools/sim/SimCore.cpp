#include "sim/SimCore.h"

#include "protocol/uProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Ready time of a live frame that waits for its release (step mode).
constexpr std::uint64_t kHeldUs = ~std::uint64_t(0);

bool EndsTest(std::uint8_t state) {
  return state == kLiveWiringError || state == kLiveOverRange || state == kLiveFinished;
}

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Uniform in [-1, 1), a pure function of its inputs.
double Jitter(std::uint32_t seed, int k, int channel) {
  const std::uint64_t h =
      SplitMix((std::uint64_t(seed) << 32) ^ (std::uint64_t(std::uint32_t(k)) << 8) ^ std::uint64_t(channel));
  return double(h >> 11) / double(1ull << 52) - 1.0;
}

std::uint8_t Bcd(int v) { return std::uint8_t(((v / 10) % 10) << 4 | (v % 10)); }

void PutFloat(std::vector<std::uint8_t>& f, std::size_t pos, float v) {
  std::uint32_t u = 0;
  std::memcpy(&u, &v, sizeof u);
  f[pos] = std::uint8_t(u >> 24);
  f[pos + 1] = std::uint8_t(u >> 16);
  f[pos + 2] = std::uint8_t(u >> 8);
  f[pos + 3] = std::uint8_t(u);
}

// Text in the instrument's 62-symbol code, padded with "no character" bytes.
void PutText(std::vector<std::uint8_t>& f, std::size_t pos, const char* text) {
  for (std::size_t i = 0; i < RecordAt::kTextBytes; ++i) f[pos + i] = kNoCharacter;
  for (std::size_t i = 0; i < RecordAt::kTextBytes && text[i]; ++i) f[pos + i] = CodeOfChar(text[i]);
}

bool Matches(const TSimFault& f, std::uint8_t cmd, int occurrence) {
  return f.Command == cmd && (f.Occurrence == 0 || f.Occurrence == occurrence);
}

const TSimFault* Find(const std::vector<TSimFault>& list, std::uint8_t cmd, int occurrence) {
  for (const TSimFault& f : list)
    if (Matches(f, cmd, occurrence)) return &f;
  return nullptr;
}

}  // namespace

TSimCore::TSimCore(TSimConfig config) : FConfig(std::move(config)) {
  FRecordCount = std::clamp(FConfig.Records, 0, 255);
  FSerial = FConfig.Serial;
  FRandom = FConfig.ChunkSeed.value_or(0);
}

std::size_t TSimCore::FrameLength(std::uint8_t first) {
  const TCommandSpec* c = FindCommand(first);
  return c ? c->frameLength : 1;  // an unknown byte is a frame of its own
}

std::string TSimCore::HexLine(const std::uint8_t* p, std::size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    if (i) s += ' ';
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

std::uint64_t TSimCore::LineTimeUs(std::size_t n, std::uint32_t baud) {
  if (baud == 0) return 0;
  return std::uint64_t(n) * 10000000ull / baud;
}

std::vector<std::uint8_t> TSimCore::RecordFrame(int n) {
  static const char* const kTesters[] = {"Zhang", "LiMing", "Wang", "Chen"};
  static const char* const kPlaces[] = {"Sub110kV", "LineA12", "Bay07"};
  static const int kLoadTimes[] = {10, 30, 60, 120, 5};
  using namespace RecordAt;
  std::vector<std::uint8_t> f(kRecord.replyLength, 0);
  f[0] = kCmdRecord;
  f[kMinute] = Bcd((n * 7 + 3) % 60);
  f[kHour] = Bcd(8 + n % 10);
  f[3] = Bcd((n * 11) % 60);  // second, not shown by the PC
  f[kDay] = Bcd(1 + n % 28);
  f[kMonth] = Bcd(1 + (n / 28) % 12);
  f[kYear] = Bcd(25);
  char device[9];
  device[0] = 'Q';
  device[1] = 'K';
  const int num = 101 + n;
  device[2] = char('0' + num / 100 % 10);
  device[3] = char('0' + num / 10 % 10);
  device[4] = char('0' + num % 10);
  device[5] = 0;
  PutText(f, kDevice, device);
  PutText(f, kTester, kTesters[n % 4]);
  PutText(f, kPlace, kPlaces[n % 3]);
  f[kLoadTime] = std::uint8_t(kLoadTimes[n % 5]);
  f[RecordAt::kRange] = std::uint8_t(n % 2);
  const bool single = n % 3 == 1;
  f[kPhase] = single ? 1 : 3;
  const double a = (35.0 + (n * 53) % 400 + 0.1 * (n % 10)) * 1e-6;
  PutFloat(f, kResistance, float(a));
  PutFloat(f, kResistance + 4, single ? 0.0f : float(a * 1.08 + 3e-6));
  PutFloat(f, kResistance + 8, single ? 0.0f : float(a * 0.94 + 1.5e-6));
  return f;
}

std::vector<std::uint8_t> TSimCore::LiveFrame(int k, int elapsed, std::uint8_t r, std::uint8_t p,
                                              std::uint8_t state) const {
  static const double kPhaseResistance[3] = {52.4e-6, 61.9e-6, 47.3e-6};
  static const double kCurrentOffset[3] = {0.0, -0.4, 0.3};
  using namespace LiveAt;
  std::vector<std::uint8_t> f(kStartTest.replyLength, 0);
  f[0] = kLiveFrameCode;
  const double range = r == 1 ? 200.0 : 100.0;
  const int channels = p == 1 ? 1 : 3;
  for (int ch = 0; ch < 3; ++ch) {
    double i = 0.0, u = 0.0, res = 0.0;
    if (ch < channels) {
      const double ji = FConfig.FixedValues ? 0.0 : Jitter(FLiveSeed, k, ch);
      const double jr = FConfig.FixedValues ? 0.0 : Jitter(FLiveSeed, k, ch + 3);
      i = range + kCurrentOffset[ch] + 0.35 * ji;
      res = kPhaseResistance[ch] * (1.0 + 0.004 * jr);
      u = i * res;
    }
    PutFloat(f, std::size_t(kCurrent + 4 * ch), float(i));
    PutFloat(f, std::size_t(kVoltage + 4 * ch), float(u));
    PutFloat(f, std::size_t(LiveAt::kResistance + 4 * ch), float(res));
  }
  f[kMinutes] = std::uint8_t(elapsed / 60);
  f[kSeconds] = std::uint8_t(elapsed % 60);
  f[kState] = state;
  return f;
}

bool TSimCore::LiveRunning() const {
  if (!FLiveActive || FClosed) return false;
  if (FLiveSilent) return true;
  return std::any_of(FQueue.begin(), FQueue.end(), [](const TReply& r) { return r.Live; });
}

std::uint64_t TSimCore::NextRandom() {
  FRandom += 0x9E3779B97F4A7C15ull;
  return SplitMix(FRandom);
}

std::vector<TSimFrame> TSimCore::Receive(const std::uint8_t* p, std::size_t n, std::uint64_t nowUs) {
  // Whatever has started on the line by now keeps going, whatever comes in.
  Advance(nowUs);
  FInput.insert(FInput.end(), p, p + n);
  std::vector<TSimFrame> frames;
  std::size_t used = 0;
  while (used < FInput.size()) {
    const std::size_t len = FrameLength(FInput[used]);
    if (FInput.size() - used < len) break;
    TSimFrame f;
    f.AtUs = nowUs;
    f.Bytes.assign(FInput.begin() + std::ptrdiff_t(used), FInput.begin() + std::ptrdiff_t(used + len));
    used += len;
    Handle(f.Bytes, nowUs);
    frames.push_back(std::move(f));
  }
  FInput.erase(FInput.begin(), FInput.begin() + std::ptrdiff_t(used));
  return frames;
}

void TSimCore::Handle(const std::vector<std::uint8_t>& frame, std::uint64_t nowUs) {
  const std::uint8_t cmd = frame[0];
  const int occurrence = ++FSeen[cmd];
  if (FClosed) return;

  std::vector<TReply> out;
  auto reply = [&](std::vector<std::uint8_t> bytes, std::uint64_t readyUs) {
    TReply r;
    r.ReadyUs = readyUs;
    r.Bytes = std::move(bytes);
    out.push_back(std::move(r));
  };
  auto stopLive = [&] {
    FQueue.erase(std::remove_if(FQueue.begin(), FQueue.end(), [](const TReply& r) { return r.Live; }),
                 FQueue.end());
    FLiveActive = false;
    FLiveSilent = false;
  };

  switch (cmd) {
    case kCmdIdentify: reply({kCmdIdentify, FConfig.DeviceType}, nowUs); break;
    case kCmdCount: reply({kCmdCount, std::uint8_t(FRecordCount)}, nowUs); break;
    case kCmdRecord:
      if (frame[1] < FRecordCount) reply(RecordFrame(frame[1]), nowUs);
      break;
    case kCmdErase: FRecordCount = 0; break;
    case kCmdRange: reply({kCmdRange, FConfig.RangeMode, FConfig.RangeSelected}, nowUs); break;
    case kCmdStartTest:
      stopLive();
      StartLive(frame[1], frame[2], frame[3], nowUs, out);
      break;
    case kCmdStop:
      stopLive();
      reply({kCmdStop}, nowUs);
      break;
    case kCmdPrint: reply({kCmdPrint}, nowUs + std::uint64_t(FConfig.PrintDelayMs) * 1000); break;
    case kCmdReadSeries: {
      std::vector<std::uint8_t> b{kCmdReadSeries};
      b.insert(b.end(), FSerial.begin(), FSerial.end());
      reply(std::move(b), nowUs);
      break;
    }
    case kCmdWriteSeries: std::copy(frame.begin() + 1, frame.begin() + 1 + kSeriesBytes, FSerial.begin()); break;
    default: break;  // unknown byte: no reply
  }

  ApplyFaults(cmd, occurrence, out, nowUs);
  if (cmd == kCmdStartTest) {
    // A stream that lost its closing frame leaves the test running silently.
    FLiveSilent = std::none_of(out.begin(), out.end(), [](const TReply& r) { return r.Terminal; });
  }
  for (TReply& r : out) Enqueue(std::move(r));
}

void TSimCore::StartLive(std::uint8_t t, std::uint8_t r, std::uint8_t p, std::uint64_t nowUs,
                         std::vector<TReply>& out) {
  FLiveActive = true;
  ++FLiveSeed;
  const std::uint64_t intervalUs = std::uint64_t(FConfig.IntervalMs) * 1000;
  const int total = t == 0 ? 1 : t;
  const int burst = std::min(FConfig.Burst, total);
  for (int k = 1; k <= total; ++k) {
    if (FConfig.SilenceAfter && k > *FConfig.SilenceAfter) break;
    std::uint8_t state = k == total ? kLiveFinished : kLiveMeasuring;
    const auto forced = FConfig.LiveStates.find(k);
    if (forced != FConfig.LiveStates.end()) state = forced->second;
    TReply reply;
    const int slot = k <= burst ? burst : k;  // held back frames go together with frame `burst`
    reply.ReadyUs = FConfig.Step ? kHeldUs : t == 0 ? nowUs : nowUs + std::uint64_t(slot) * intervalUs;
    reply.Bytes = LiveFrame(k, t == 0 ? 0 : k, r, p, state);
    reply.Live = true;
    reply.Terminal = EndsTest(state);
    const bool last = reply.Terminal;
    out.push_back(std::move(reply));
    if (last) break;  // nothing follows a closing or error frame
  }
}

void TSimCore::ApplyFaults(std::uint8_t cmd, int occurrence, std::vector<TReply>& replies,
                           std::uint64_t nowUs) {
  if (Find(FConfig.Mute, cmd, occurrence)) replies.clear();
  if (Find(FConfig.Corrupt, cmd, occurrence) && !replies.empty() && !replies.front().Bytes.empty())
    replies.front().Bytes[0] = 0x00;

  // Keeps the first `len` bytes of the whole answer (a live stream counts as one).
  auto cut = [&](std::size_t len) {
    std::size_t kept = 0;
    std::size_t i = 0;
    for (; i < replies.size() && kept < len; ++i) {
      TReply& r = replies[i];
      if (r.Bytes.size() > len - kept) {
        r.Bytes.resize(len - kept);
        r.Terminal = false;
      }
      kept += r.Bytes.size();
    }
    replies.resize(i);
  };
  if (const TSimFault* f = Find(FConfig.Truncate, cmd, occurrence)) cut(f->Length);
  if (const TSimFault* f = Find(FConfig.Hangup, cmd, occurrence)) {
    cut(f->Length);
    if (replies.empty()) {
      TReply r;
      r.ReadyUs = nowUs;
      replies.push_back(std::move(r));
    }
    replies.back().Hangup = true;
    replies.back().Terminal = false;
  }

  if (FConfig.Noise > 0) {
    for (TReply& r : replies) {
      if (r.Bytes.empty()) continue;
      std::vector<std::uint8_t> noise;
      for (int i = 0; i < FConfig.Noise; ++i) noise.push_back(std::uint8_t((FNoise++ * 37 + 11) % kFirstCode));
      r.Bytes.insert(r.Bytes.begin(), noise.begin(), noise.end());
    }
  }
}

void TSimCore::Enqueue(TReply reply) {
  const std::size_t n = reply.Bytes.size();
  if (FConfig.ChunkSeed) {
    std::size_t left = n;
    while (left > 0) {
      const std::size_t size = std::min<std::size_t>(left, 1 + NextRandom() % 16);
      reply.PausesUs.push_back(reply.ChunkSizes.empty() ? 0 : std::uint32_t(NextRandom() % 3000));
      reply.ChunkSizes.push_back(size);
      left -= size;
    }
  } else if (n > 0) {
    reply.ChunkSizes.push_back(n);
    reply.PausesUs.push_back(0);
  }
  auto pos = std::upper_bound(FQueue.begin(), FQueue.end(), reply.ReadyUs,
                              [](std::uint64_t t, const TReply& r) { return t < r.ReadyUs; });
  FQueue.insert(pos, std::move(reply));
}

void TSimCore::Commit(const TReply& reply, std::uint64_t startUs) {
  std::uint64_t t = startUs;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < reply.ChunkSizes.size(); ++i) {
    const std::size_t size = reply.ChunkSizes[i];
    t += reply.PausesUs[i] + LineTimeUs(size, FConfig.Baud);
    TimedChunk c;
    c.DueUs = t;
    c.Bytes.assign(reply.Bytes.begin() + std::ptrdiff_t(offset),
                   reply.Bytes.begin() + std::ptrdiff_t(offset + size));
    offset += size;
    const bool last = i + 1 == reply.ChunkSizes.size();
    c.EndOfReply = last;
    c.Hangup = last && reply.Hangup;
    FLine.push_back(std::move(c));
  }
  if (reply.ChunkSizes.empty() && reply.Hangup) {
    TimedChunk c;
    c.DueUs = t;
    c.Hangup = true;
    FLine.push_back(std::move(c));
  }
  FLineFreeUs = t;
}

void TSimCore::Advance(std::uint64_t nowUs) {
  while (!FClosed && !FQueue.empty()) {
    const std::uint64_t start = std::max(FQueue.front().ReadyUs, FLineFreeUs);
    if (start > nowUs) break;
    TReply r = std::move(FQueue.front());
    FQueue.pop_front();
    Commit(r, start);
    if (r.Hangup) {
      FClosed = true;
      FQueue.clear();
    }
  }
}

std::vector<TimedChunk> TSimCore::Poll(std::uint64_t nowUs) {
  Advance(nowUs);
  std::vector<TimedChunk> due;
  while (!FLine.empty() && FLine.front().DueUs <= nowUs) {
    due.push_back(std::move(FLine.front()));
    FLine.pop_front();
  }
  return due;
}

bool TSimCore::ReleaseLiveFrame(std::uint64_t nowUs) {
  const auto held = std::find_if(FQueue.begin(), FQueue.end(),
                                 [](const TReply& r) { return r.Live && r.ReadyUs == kHeldUs; });
  if (held == FQueue.end()) return false;
  TReply r = std::move(*held);
  FQueue.erase(held);
  r.ReadyUs = nowUs;
  const auto pos = std::upper_bound(FQueue.begin(), FQueue.end(), r.ReadyUs,
                                    [](std::uint64_t t, const TReply& q) { return t < q.ReadyUs; });
  FQueue.insert(pos, std::move(r));
  return true;
}

std::optional<std::uint64_t> TSimCore::NextDueUs() const {
  if (!FLine.empty()) return FLine.front().DueUs;
  if (FClosed || FQueue.empty()) return std::nullopt;
  const TReply& r = FQueue.front();
  if (r.ReadyUs == kHeldUs) return std::nullopt;
  const std::uint64_t start = std::max(r.ReadyUs, FLineFreeUs);
  if (r.ChunkSizes.empty()) return start;
  return start + r.PausesUs[0] + LineTimeUs(r.ChunkSizes[0], FConfig.Baud);
}
