#include "sim/SimOptions.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace {

bool ParseUnsigned(const std::string& s, int base, unsigned long long max, unsigned long long& out) {
  if (s.empty()) return false;
  for (char c : s)
    if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c))))
      return false;
  if (s.size() > 20) return false;
  errno = 0;
  const unsigned long long v = std::strtoull(s.c_str(), nullptr, base);
  if (errno != 0 || v > max) return false;
  out = v;
  return true;
}

bool ParseDec(const std::string& s, unsigned long long max, unsigned long long& out) {
  return ParseUnsigned(s, 10, max, out);
}

// A byte in hex: "F1", "f1" or "0xF1".
bool ParseHexByte(std::string s, std::uint8_t& out) {
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = s.substr(2);
  if (s.empty() || s.size() > 2) return false;
  unsigned long long v = 0;
  if (!ParseUnsigned(s, 16, 0xFF, v)) return false;
  out = std::uint8_t(v);
  return true;
}

// CMD[@N] or, with needLength, CMD[@N]:LEN.
bool ParseFault(const std::string& s, bool needLength, TSimFault& f) {
  std::string head = s;
  if (needLength) {
    const auto colon = s.find(':');
    if (colon == std::string::npos) return false;
    unsigned long long len = 0;
    if (!ParseDec(s.substr(colon + 1), 1u << 20, len)) return false;
    f.Length = std::size_t(len);
    head = s.substr(0, colon);
  }
  const auto at = head.find('@');
  if (at != std::string::npos) {
    unsigned long long n = 0;
    if (!ParseDec(head.substr(at + 1), 1u << 30, n) || n == 0) return false;
    f.Occurrence = int(n);
    head = head.substr(0, at);
  }
  return ParseHexByte(head, f.Command);
}

}  // namespace

bool ParseSimOptions(const std::vector<std::string>& args, TSimOptions& o, std::string& error) {
  TSimConfig& c = o.Config;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    const auto eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    if (name == "--help" || name == "-h") {
      o.Help = true;
      continue;
    }
    if (name == "--fixed-values" && !hasValue) {
      c.FixedValues = true;
      continue;
    }
    if (name == "--step" && !hasValue) {
      c.Step = true;
      continue;
    }
    static const char* const kWithValue[] = {
        "--link", "--log", "--trace", "--mute", "--corrupt", "--truncate", "--hangup", "--noise",
        "--chunks", "--baud", "--live-state", "--silence-after", "--burst", "--interval",
        "--records", "--device-type", "--ranges", "--print-delay", "--serial"};
    bool known = false;
    for (const char* k : kWithValue) known = known || name == k;
    if (!known) {
      error = "unknown option " + args[i] + " (see --help)";
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        error = name + " needs a value";
        return false;
      }
      value = args[++i];
    }
    const std::string bad = "invalid value for " + name + ": " + value;
    unsigned long long v = 0;
    if (name == "--link") {
      o.Link = value;
    } else if (name == "--log") {
      o.Log = value;
    } else if (name == "--trace") {
      o.Trace = value;
    } else if (name == "--mute" || name == "--corrupt" || name == "--truncate" || name == "--hangup") {
      TSimFault f;
      if (!ParseFault(value, name == "--truncate" || name == "--hangup", f)) {
        error = bad;
        return false;
      }
      (name == "--mute" ? c.Mute : name == "--corrupt" ? c.Corrupt : name == "--truncate" ? c.Truncate : c.Hangup)
          .push_back(f);
    } else if (name == "--noise") {
      if (!ParseDec(value, 4096, v)) { error = bad; return false; }
      c.Noise = int(v);
    } else if (name == "--chunks") {
      if (!ParseDec(value, ~0ull, v)) { error = bad; return false; }
      c.ChunkSeed = v;
    } else if (name == "--baud") {
      if (!ParseDec(value, 4000000, v)) { error = bad; return false; }
      c.Baud = std::uint32_t(v);
    } else if (name == "--live-state") {
      const auto colon = value.find(':');
      unsigned long long k = 0;
      std::uint8_t state = 0;
      if (colon == std::string::npos || !ParseDec(value.substr(0, colon), 255, k) || k == 0 ||
          !ParseHexByte(value.substr(colon + 1), state)) {
        error = bad;
        return false;
      }
      c.LiveStates[int(k)] = state;
    } else if (name == "--silence-after") {
      if (!ParseDec(value, 255, v)) { error = bad; return false; }
      c.SilenceAfter = int(v);
    } else if (name == "--burst") {
      if (!ParseDec(value, 255, v)) { error = bad; return false; }
      c.Burst = int(v);
    } else if (name == "--interval") {
      if (!ParseDec(value, 3600000, v)) { error = bad; return false; }
      c.IntervalMs = std::uint32_t(v);
    } else if (name == "--print-delay") {
      if (!ParseDec(value, 3600000, v)) { error = bad; return false; }
      c.PrintDelayMs = std::uint32_t(v);
    } else if (name == "--records") {
      if (!ParseDec(value, 255, v)) { error = bad; return false; }
      c.Records = int(v);
    } else if (name == "--device-type") {
      if (!ParseDec(value, 255, v)) { error = bad; return false; }
      c.DeviceType = std::uint8_t(v);
    } else if (name == "--ranges") {
      const auto comma = value.find(',');
      unsigned long long m = 0, s = 0;
      if (comma == std::string::npos || !ParseDec(value.substr(0, comma), 255, m) ||
          !ParseDec(value.substr(comma + 1), 255, s)) {
        error = bad;
        return false;
      }
      c.RangeMode = std::uint8_t(m);
      c.RangeSelected = std::uint8_t(s);
    } else if (name == "--serial") {
      if (value.size() != 16) { error = bad; return false; }
      for (std::size_t b = 0; b < 8; ++b) {
        if (!ParseHexByte(value.substr(2 * b, 2), c.Serial[b])) { error = bad; return false; }
      }
    }
  }
  return true;
}

std::string SimUsage() {
  return
      "usage: qk4820-sim --link PATH [options]\n"
      "Simulates the QK4820 loop-resistance tester on a pseudo-terminal.\n"
      "\n"
      "  --link PATH             symbolic link to the pty slave (replaces a stale link)\n"
      "  --log FILE              append every received frame as one hex line (\"F1 02\")\n"
      "  --trace FILE            timing trace: \"tx <us>\" after the last byte of a reply,\n"
      "                          \"rx <us> <hex>\" for a received frame (CLOCK_MONOTONIC)\n"
      "\n"
      "Instrument:\n"
      "  --records N             stored records, 0..255 (default 3)\n"
      "  --device-type T         identification type byte (default 1)\n"
      "  --ranges M,I            range reply bytes: mode, selected (default 1,0)\n"
      "  --serial HEX16          serial number (default 0123456789ABCDEF)\n"
      "  --interval MS           live frame interval (default 1000)\n"
      "  --print-delay MS        delay of the print acknowledgement (default 1500)\n"
      "  --baud B                pace output as 8N1 at B baud, 0 = no pacing (default 9600)\n"
      "  --fixed-values          live frames carry the same values every time, distinct\n"
      "                          per phase (A 52.4, B 61.9, C 47.3 uOhm)\n"
      "  --step                  each live frame waits until the simulator gets SIGUSR1\n"
      "                          (one signal, one frame) instead of its interval\n"
      "\n"
      "Faults (CMD in hex, e.g. F1; @N = only its N-th occurrence, 1-based;\n"
      "the live frames after F4 count as one reply):\n"
      "  --mute CMD[@N]          carry out the command but send no reply\n"
      "  --corrupt CMD[@N]       reply with 00 in place of the first byte\n"
      "  --truncate CMD[@N]:LEN  send only the first LEN bytes of the reply\n"
      "  --hangup CMD[@N]:LEN    send LEN bytes of the reply, then close the line and exit\n"
      "  --noise N               N noise bytes (below F0) before every reply\n"
      "  --chunks SEED           split replies into random chunks of 1..16 bytes with\n"
      "                          small pauses, deterministic for SEED\n"
      "  --live-state K:STATE    live frame K carries state STATE (hex); the test ends\n"
      "                          after a 81, 82 or 83 frame\n"
      "  --silence-after K       no live frames after frame K; the test keeps running\n"
      "  --burst K               hold the first K live frames back and send them together\n"
      "                          when frame K is due\n"
      "  --help                  this text\n";
}
