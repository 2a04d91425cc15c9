// qk4820-decode: runs a capture of the instrument line through the reply
// assembler and prints every reply it completes or refuses.
//
//   qk4820-decode KIND [FILE]
//
// The capture is hexadecimal bytes separated by blanks or line ends; '#'
// starts a comment that runs to the end of the line. The bytes are fed one at
// a time to an assembler that awaits KIND; after every block the kind is
// awaited again.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "protocol/ReplyAssembler.h"

namespace {

const char kUsage[] =
    "usage: qk4820-decode KIND [FILE]\n"
    "\n"
    "Feeds the bytes of FILE (or of standard input when FILE is missing or \"-\")\n"
    "one at a time to the reply assembler awaiting reply kind KIND (0-255) and\n"
    "prints a block for every reply that completes (status=0) or is refused\n"
    "(status=2):\n"
    "  status=N\n"
    "  Field=Text      one line per field the kind fills, for status=0 only:\n"
    "                  1 DeviceType; 2 RecordCount; 3 the stored record;\n"
    "                  5 the live frame; 6 StepMode, StepIndex\n"
    "  (empty line)\n"
    "Input: hexadecimal bytes (\"F0 07\"; a token may hold several whole bytes,\n"
    "\"F007\"), separated by blanks or line ends; '#' starts a comment.\n"
    "Texts are UTF-8. Exit code 2 for bad arguments or input.\n";

int Fail(const std::string& message) {
  std::cerr << "qk4820-decode: " << message << "\n";
  return 2;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseKind(const char* text, int& kind) {
  if (text == nullptr || *text == '\0') return false;
  for (const char* p = text; *p; ++p)
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  if (std::strlen(text) > 3) return false;
  kind = std::atoi(text);
  return kind >= 0 && kind <= 255;
}

void PrintBlock(std::ostream& out, const TCircleRoad& road) {
  out << "status=" << int(road.Status) << "\n";
  if (road.Status == kStatusDone) {
    switch (road.ExpectKind) {
      case kReplyIdentify:
        out << "DeviceType=" << road.DeviceType << "\n";
        break;
      case kReplyCount:
        out << "RecordCount=" << road.RecordCount << "\n";
        break;
      case kReplyRecord: {
        const TRecvF1& r = *road.RecvF1;
        out << "TestDateTime=" << r.TestDateTime << "\n"
            << "DeviceNo=" << r.DeviceNo << "\n"
            << "Tester=" << r.Tester << "\n"
            << "TestPlace=" << r.TestPlace << "\n"
            << "LoadTimeText=" << r.LoadTimeText << "\n"
            << "CurrentStep=" << r.CurrentStep << "\n"
            << "Phase=" << r.Phase << "\n"
            << "ResistanceA=" << r.ResistanceA << "\n"
            << "ResistanceB=" << r.ResistanceB << "\n"
            << "ResistanceC=" << r.ResistanceC << "\n";
        break;
      }
      case kReplyLive: {
        const TRecvFA& r = *road.RecvFA;
        out << "CurrentA=" << r.CurrentA << "\n"
            << "CurrentB=" << r.CurrentB << "\n"
            << "CurrentC=" << r.CurrentC << "\n"
            << "VoltageA=" << r.VoltageA << "\n"
            << "VoltageB=" << r.VoltageB << "\n"
            << "VoltageC=" << r.VoltageC << "\n"
            << "ResistanceA=" << r.ResistanceA << "\n"
            << "ResistanceB=" << r.ResistanceB << "\n"
            << "ResistanceC=" << r.ResistanceC << "\n"
            << "LoadTimeText=" << r.LoadTimeText << "\n"
            << "LoadSeconds=" << r.LoadSeconds << "\n"
            << "State=" << r.State << "\n";
        break;
      }
      case kReplyRange:
        out << "StepMode=" << road.StepMode << "\n"
            << "StepIndex=" << road.StepIndex << "\n";
        break;
      default:
        break;
    }
  }
  out << "\n";
}

// Reads the whole input first, so that a bad token is reported before any
// output and nothing half-decoded is printed.
bool ReadBytes(std::istream& in, TBuffer& bytes, std::string& error) {
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    const std::size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::istringstream words(line);
    std::string token;
    while (words >> token) {
      bool ok = token.size() % 2 == 0;
      for (std::size_t i = 0; ok && i < token.size(); i += 2) {
        const int hi = HexDigit(token[i]);
        const int lo = HexDigit(token[i + 1]);
        if (hi < 0 || lo < 0) {
          ok = false;
        } else {
          bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
      }
      if (!ok) {
        error = "line " + std::to_string(lineNo) + ": not a hexadecimal byte: \"" + token + "\"";
        return false;
      }
    }
  }
  if (in.bad()) {
    error = "read error";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc < 2 || argc > 3) {
    std::cerr << kUsage;
    return 2;
  }
  int kind = 0;
  if (!ParseKind(argv[1], kind)) return Fail(std::string("bad reply kind \"") + argv[1] + "\" (0-255 expected)");

  TBuffer bytes;
  std::string error;
  bool ok;
  if (argc == 3 && std::strcmp(argv[2], "-") != 0) {
    std::ifstream file(argv[2], std::ios::binary);
    if (!file) return Fail(std::string("cannot open \"") + argv[2] + "\": " + std::strerror(errno));
    ok = ReadBytes(file, bytes, error);
  } else {
    ok = ReadBytes(std::cin, bytes, error);
  }
  if (!ok) return Fail(error);

  TCircleRoad road;
  road.Reset();
  road.Expect(static_cast<std::uint8_t>(kind));
  std::ostringstream out;
  for (std::uint8_t b : bytes) {
    road.AddData(&b, 1);
    if (road.Status != kStatusWaiting) {
      PrintBlock(out, road);
      road.Expect(static_cast<std::uint8_t>(kind));
    }
  }
  std::cout << out.str();
  std::cout.flush();
  return std::cout ? 0 : 1;
}
