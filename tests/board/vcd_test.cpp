// SPDX-License-Identifier: Apache-2.0

#include "board/vcd_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "board/virtual_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"
#include "bench.h"

namespace tavrin::board {
namespace {

using testing::Bench;
using testing::Stream;

// A reader for what the writer produces: the declared signals, and every
// change as (time, name, level).
struct Dump {
  std::vector<std::string> header;  // lines up to $enddefinitions
  std::map<std::string, std::string> names;  // id -> name
  struct Change {
    std::uint64_t time;
    std::string name;
    bool level;
  };
  std::vector<Change> changes;
  std::vector<std::uint64_t> times;  // every time stamp, in order
  bool well_formed = true;

  explicit Dump(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    bool body = false;
    std::uint64_t now = 0;
    while (std::getline(in, line)) {
      if (!body) {
        header.push_back(line);
        std::istringstream words(line);
        std::string w, kind, width, id, name;
        words >> w;
        if (w == "$var" && words >> kind >> width >> id >> name) names[id] = name;
        if (line == "$enddefinitions $end") body = true;
        continue;
      }
      if (line.empty() || line == "$dumpvars" || line == "$end") continue;
      if (line[0] == '#') {
        now = std::stoull(line.substr(1));
        if (!times.empty() && now <= times.back()) well_formed = false;
        times.push_back(now);
      } else if ((line[0] == '0' || line[0] == '1') && names.count(line.substr(1)) != 0) {
        changes.push_back({now, names[line.substr(1)], line[0] == '1'});
      } else {
        well_formed = false;
      }
    }
  }

  // The level of a signal at a time.
  [[nodiscard]] bool LevelAt(const std::string& name, std::uint64_t t) const {
    bool level = false;
    for (const auto& c : changes) {
      if (c.time > t) break;
      if (c.name == name) level = c.level;
    }
    return level;
  }
  [[nodiscard]] int Rises(const std::string& name) const {
    int n = 0;
    bool level = LevelAt(name, 0);
    for (const auto& c : changes) {
      if (c.name != name || c.time == 0) continue;
      if (c.level && !level) ++n;
      level = c.level;
    }
    return n;
  }
};

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  for (const auto& l : lines) {
    if (l == line) return true;
  }
  return false;
}

TEST(Vcd, HeaderDeclaresFourLowerCaseWiresInOneScope) {
  std::ostringstream out;
  { VcdWriter w(out, {"Mon Dec  1 12:00:00 2025", "10 ns"}, false, true, true, true); }
  const Dump d(out.str());
  EXPECT_TRUE(d.well_formed);
  EXPECT_EQ(d.header.front(), "$date");
  EXPECT_TRUE(HasLine(d.header, "\tMon Dec  1 12:00:00 2025"));
  EXPECT_TRUE(HasLine(d.header, "$version"));
  EXPECT_TRUE(HasLine(d.header, "$timescale 10 ns $end"));
  EXPECT_TRUE(HasLine(d.header, "$scope module jtag $end"));
  EXPECT_TRUE(HasLine(d.header, "$upscope $end"));
  EXPECT_EQ(d.header.back(), "$enddefinitions $end");
  std::vector<std::string> names;
  for (const auto& [id, name] : d.names) {
    EXPECT_EQ(id.size(), 1U);
    EXPECT_TRUE(id[0] > ' ' && id[0] < 127 && id[0] != '#' && id[0] != '$') << id;
    EXPECT_TRUE(HasLine(d.header, "$var wire 1 " + id + " " + name + " $end"));
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"tck", "tdi", "tdo", "tms"}));
  // The initial levels at time 0.
  ASSERT_EQ(d.changes.size(), 4U);
  EXPECT_FALSE(d.LevelAt("tck", 0));
  EXPECT_TRUE(d.LevelAt("tms", 0));
}

TEST(Vcd, NoDateWithoutOneAndAnUnknownTimescaleFallsBack) {
  std::ostringstream out;
  { VcdWriter w(out, {"", "3 us"}, false, false, false, false); }
  EXPECT_EQ(out.str().find("$date"), std::string::npos);
  EXPECT_NE(out.str().find("$timescale 1 us $end"), std::string::npos);
  EXPECT_TRUE(VcdWriter::ValidTimescale("100 fs"));
  EXPECT_FALSE(VcdWriter::ValidTimescale("1us"));
}

TEST(Vcd, OnlyChangesAreWrittenAndFinishMarksTheEnd) {
  std::ostringstream out;
  VcdWriter w(out, {}, false, false, false, false);
  w.Sample(1, false, false, false, false);  // nothing new
  w.Sample(2, true, false, false, false);
  w.Sample(3, true, false, false, false);
  w.Sample(4, false, true, true, true);
  w.Finish(9);
  w.Sample(10, true, true, true, true);  // after the end: ignored
  const Dump d(out.str());
  EXPECT_TRUE(d.well_formed);
  EXPECT_EQ(d.times, (std::vector<std::uint64_t>{0, 2, 4, 9}));
  EXPECT_EQ(d.changes.size(), 4U + 1U + 4U);
}

TEST(Vcd, BoardTrafficOneStepPerByte) {
  Bench b;
  b.OpenAndSetUp();
  std::ostringstream out;
  b.chip.StartVcd(out);
  Stream s;
  s.Reset().Steps({0}).ScanDr(std::vector<bool>(32));
  const auto answers = b.Run(s);
  b.chip.StopVcd();
  const Dump d(out.str());
  ASSERT_TRUE(d.well_formed);
  EXPECT_EQ(d.times.back(), s.bytes.size() + 1);
  EXPECT_EQ(d.Rises("tck"), 5 + 1 + 3 + 32 + 2);
  // Step k shows the levels after byte k; the answer to byte k + 1 is those levels.
  for (std::size_t k = 1; k <= s.bytes.size(); ++k) {
    const std::uint8_t byte = s.bytes[k - 1];
    ASSERT_EQ(d.LevelAt("tck", k), (byte & 0x80U) != 0) << k;
    ASSERT_EQ(d.LevelAt("tms", k), (byte & 0x02U) != 0) << k;
    ASSERT_EQ(d.LevelAt("tdi", k), (byte & 0x20U) != 0) << k;
    if (k < answers.size()) {
      ASSERT_EQ(d.LevelAt("tdo", k), (answers[k] & 0x40U) != 0) << k;
    }
  }
}

TEST(Vcd, EveryRunOfThePlayerBeginsWithFiveClocksAtTmsHigh) {
  VirtualD2xx chip(DefaultBoard());
  MemoryWindow window;
  FakeClock clock;
  player::Player p{window, chip, clock};
  p.Form_Load();  // the model says RESET: it cannot know where the target is
  const auto path = std::filesystem::temp_directory_path() / ("tavrin-vcd-" + std::to_string(::getpid()) + ".svf");
  std::ofstream(path) << "SDR 32 TDI (0) TDO (F6E5F093);\n";
  window.selected_file = path.filename().string();
  window.file_path = path.string();
  window.single_step = 0;
  for (int run = 0; run < 2; ++run) {
    std::ostringstream out;
    chip.StartVcd(out);
    p.cmd_Process_Click();
    chip.StopVcd();
    EXPECT_EQ(p.driver.LastOutcome(), svf::RunOutcome::Completed) << run;
    const Dump d(out.str());
    ASSERT_TRUE(d.well_formed);
    // TCK rises with TMS high, from the first rising edge on.
    int high = 0;
    bool tck = d.LevelAt("tck", 0);
    for (const auto& c : d.changes) {
      if (c.name != "tck") continue;
      if (c.level && !tck) {
        if (!d.LevelAt("tms", c.time)) break;
        ++high;
      }
      tck = c.level;
    }
    EXPECT_GE(high, 5) << "run " << run;
  }
  std::filesystem::remove(path);
}

TEST(Vcd, ModeChangeTakesAStepAndStopEndsTheDump) {
  VirtualD2xx chip;
  FtHandle h = 0;
  ASSERT_EQ(chip.FT_OpenEx(kVirtualDescription, FT_OPEN_BY_DESCRIPTION, &h), FT_OK);
  std::ostringstream out;
  chip.StartVcd(out, {"", "1 ns"});
  ASSERT_EQ(chip.FT_SetBitMode(h, 0xA2, 4), FT_OK);  // TMS and TDI go low
  chip.StopVcd();
  const std::uint8_t byte = 0x80;
  std::uint32_t n = 0;
  ASSERT_EQ(chip.FT_Write(h, &byte, 1, &n), FT_OK);  // not recorded any more
  const Dump d(out.str());
  EXPECT_EQ(d.times, (std::vector<std::uint64_t>{0, 1, 2}));
  EXPECT_TRUE(d.LevelAt("tms", 0));
  EXPECT_FALSE(d.LevelAt("tms", 1));
  EXPECT_FALSE(d.LevelAt("tck", 2));
}

}  // namespace
}  // namespace tavrin::board
