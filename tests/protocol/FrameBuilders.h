#pragma once
// Small builders of instrument frames for the protocol tests.
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "protocol/uProtocol.h"

namespace qk_test {

inline void PutFloat(TBuffer& frame, std::size_t pos, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  frame[pos] = static_cast<std::uint8_t>(bits >> 24);
  frame[pos + 1] = static_cast<std::uint8_t>(bits >> 16);
  frame[pos + 2] = static_cast<std::uint8_t>(bits >> 8);
  frame[pos + 3] = static_cast<std::uint8_t>(bits);
}

inline void PutCode(TBuffer& frame, std::size_t pos, std::initializer_list<std::uint8_t> code) {
  std::size_t i = 0;
  for (std::uint8_t b : code) frame[pos + i++] = b;
}

// A 40-byte live frame: currents, voltages, resistances of A, B, C.
inline TBuffer LiveFrame(float current, float voltage, float resistance, std::uint8_t minutes,
                         std::uint8_t seconds, std::uint8_t state) {
  TBuffer f(40, 0);
  f[0] = 0xFA;
  for (int ch = 0; ch < 3; ++ch) {
    PutFloat(f, 1 + 4 * ch, current * float(ch + 1));
    PutFloat(f, 13 + 4 * ch, voltage * float(ch + 1));
    PutFloat(f, 25 + 4 * ch, resistance * float(ch + 1));
  }
  f[37] = minutes;
  f[38] = seconds;
  f[39] = state;
  return f;
}

// A 46-byte stored record with the given resistances and a fixed header.
inline TBuffer Record(float ra, float rb, float rc) {
  TBuffer f(46, 0);
  f[0] = 0xF1;
  f[1] = 0x25;  // minute
  f[2] = 0x09;  // hour
  f[3] = 0x77;  // not used
  f[4] = 0x31;  // day
  f[5] = 0x12;  // month
  f[6] = 0x08;  // year
  PutCode(f, 7, {1, 37, 10, 62, 255, 0, 0, 0});
  PutCode(f, 15, {10, 11, 12, 13, 36, 61, 9, 35});
  PutCode(f, 23, {62, 62, 62, 62, 62, 62, 62, 62});
  f[31] = 120;
  f[32] = 1;
  f[33] = 3;
  PutFloat(f, 34, ra);
  PutFloat(f, 38, rb);
  PutFloat(f, 42, rc);
  return f;
}

inline void Append(TBuffer& to, const TBuffer& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

}  // namespace qk_test
