// Command line of qk4820-sim.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/SimOptions.h"

namespace {

struct TGoodCase {
  std::vector<std::string> Args;
  std::function<bool(const TSimOptions&)> Check;
  const char* Name;
};

class SimOptionsGood : public ::testing::TestWithParam<TGoodCase> {};

TEST_P(SimOptionsGood, Parses) {
  TSimOptions o;
  std::string error;
  ASSERT_TRUE(ParseSimOptions(GetParam().Args, o, error)) << error;
  EXPECT_TRUE(GetParam().Check(o)) << GetParam().Name;
}

bool IsFault(const TSimFault& f, std::uint8_t cmd, int occ, std::size_t len) {
  return f.Command == cmd && f.Occurrence == occ && f.Length == len;
}

INSTANTIATE_TEST_SUITE_P(
    All, SimOptionsGood,
    ::testing::Values(
        TGoodCase{{}, [](const TSimOptions& o) {
                    const TSimConfig& c = o.Config;
                    return c.DeviceType == 1 && c.Records == 3 && c.RangeMode == 1 && c.RangeSelected == 0 &&
                           c.IntervalMs == 1000 && c.PrintDelayMs == 1500 && c.Baud == 9600 && c.Noise == 0 &&
                           !c.ChunkSeed && !c.SilenceAfter && c.Burst == 0 && c.Serial[0] == 0x01 &&
                           c.Serial[7] == 0xEF && o.Link.empty() && !o.Help;
                  }, "defaults"},
        TGoodCase{{"--link", "/tmp/x", "--log=/tmp/l", "--trace", "/tmp/t"},
                  [](const TSimOptions& o) { return o.Link == "/tmp/x" && o.Log == "/tmp/l" && o.Trace == "/tmp/t"; },
                  "files"},
        TGoodCase{{"--mute", "F1@2", "--mute", "0xf8"},
                  [](const TSimOptions& o) {
                    return o.Config.Mute.size() == 2 && IsFault(o.Config.Mute[0], 0xF1, 2, 0) &&
                           IsFault(o.Config.Mute[1], 0xF8, 0, 0);
                  }, "mute"},
        TGoodCase{{"--corrupt", "F0"},
                  [](const TSimOptions& o) { return IsFault(o.Config.Corrupt.at(0), 0xF0, 0, 0); }, "corrupt"},
        TGoodCase{{"--truncate", "F6:8", "--hangup", "F4@3:50"},
                  [](const TSimOptions& o) {
                    return IsFault(o.Config.Truncate.at(0), 0xF6, 0, 8) && IsFault(o.Config.Hangup.at(0), 0xF4, 3, 50);
                  }, "lengths"},
        TGoodCase{{"--noise", "4", "--chunks", "99", "--baud", "0"},
                  [](const TSimOptions& o) {
                    return o.Config.Noise == 4 && o.Config.ChunkSeed == 99u && o.Config.Baud == 0;
                  }, "line"},
        TGoodCase{{"--live-state", "3:81", "--live-state", "1:84", "--silence-after", "0", "--burst", "2"},
                  [](const TSimOptions& o) {
                    return o.Config.LiveStates.size() == 2 && o.Config.LiveStates.at(3) == 0x81 &&
                           o.Config.LiveStates.at(1) == 0x84 && o.Config.SilenceAfter == 0 && o.Config.Burst == 2;
                  }, "live"},
        TGoodCase{{"--interval", "100", "--records", "255", "--device-type", "2", "--ranges", "5,0",
                   "--print-delay", "0", "--serial", "a1b2C3D4e5F60718"},
                  [](const TSimOptions& o) {
                    const TSimConfig& c = o.Config;
                    return c.IntervalMs == 100 && c.Records == 255 && c.DeviceType == 2 && c.RangeMode == 5 &&
                           c.RangeSelected == 0 && c.PrintDelayMs == 0 && c.Serial[0] == 0xA1 &&
                           c.Serial[3] == 0xD4 && c.Serial[7] == 0x18;
                  }, "instrument"},
        TGoodCase{{"--help"}, [](const TSimOptions& o) { return o.Help; }, "help"}));

class SimOptionsBad : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(SimOptionsBad, IsRefusedWithAMessage) {
  TSimOptions o;
  std::string error;
  EXPECT_FALSE(ParseSimOptions(GetParam(), o, error));
  EXPECT_NE(error.find(GetParam()[0].substr(0, GetParam()[0].find('='))), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    All, SimOptionsBad,
    ::testing::Values(std::vector<std::string>{"--bogus"}, std::vector<std::string>{"--records"},
                      std::vector<std::string>{"--records", "256"}, std::vector<std::string>{"--records", "-1"},
                      std::vector<std::string>{"--mute", "G1"}, std::vector<std::string>{"--mute", "F1@0"},
                      std::vector<std::string>{"--mute", "F1@"}, std::vector<std::string>{"--mute", "1F1"},
                      std::vector<std::string>{"--truncate", "F6"}, std::vector<std::string>{"--hangup", "F6:x"},
                      std::vector<std::string>{"--serial", "0123"},
                      std::vector<std::string>{"--serial", "0123456789ABCDEG"},
                      std::vector<std::string>{"--ranges", "1"}, std::vector<std::string>{"--ranges", "1,300"},
                      std::vector<std::string>{"--live-state", "0:81"},
                      std::vector<std::string>{"--live-state", "2:181"},
                      std::vector<std::string>{"--baud=fast"}, std::vector<std::string>{"--noise", "5000"}));

TEST(SimOptionsHelp, ListsEveryOption) {
  const std::string usage = SimUsage();
  for (const char* name :
       {"--link", "--log", "--trace", "--mute", "--corrupt", "--truncate", "--hangup", "--noise", "--chunks",
        "--baud", "--live-state", "--silence-after", "--burst", "--interval", "--records", "--device-type",
        "--ranges", "--print-delay", "--serial", "--help"})
    EXPECT_NE(usage.find(name), std::string::npos) << name;
}

}  // namespace
