// SPDX-License-Identifier: Apache-2.0
// Every way out of tavrin-play closes the adapter and releases its pins, on
// the virtual board and on the fake USB bus, injected into PlayMain; and
// what is refused is refused before a chip is touched.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "board/virtual_d2xx.h"
#include "common/memory_window.h"
#include "play_rig.h"
#include "player/player.h"
#ifdef TAVRIN_TEST_FTDI
#include "adapter/device_list.h"
#include "adapter/ftdi/fake_ftdi_api.h"
#include "adapter/ftdi/ftdi_d2xx.h"
#endif

namespace tavrin::cli {
namespace {

using board::Op;
using board::VirtualD2xx;
using testing::PlayInProcess;
using testing::PlayResult;
using testing::TempDir;

const char* const kIdcode = "SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (F6E5F093);\nSTATE RESET;\n";

struct WayOut {
  const char* name;
  std::string text;
  std::vector<std::string> options;
  std::string answers;
  int status;
  // The summary after "<dir>/x.svf"; a "*" at its end stands for the rest.
  std::string summary;
};

// Plays dir/x.svf as the case says and checks the status and summary.
void Play(const WayOut& c, adapter::D2xx& chip, std::FILE* out = nullptr) {
  TempDir dir;
  std::vector<std::string> args = c.options;
  args.push_back(dir.Write("x.svf", c.text));
  const PlayResult r = PlayInProcess(args, &chip, c.answers, out);
  EXPECT_EQ(r.status, c.status) << r.err;
  if (c.summary.empty()) return;
  const std::string want = args.back() + c.summary;
  if (want.back() == '*') {
    EXPECT_EQ(r.Summary().rfind(want.substr(0, want.size() - 1), 0), 0U) << r.err;
  } else {
    EXPECT_EQ(r.Summary(), want) << r.err;
  }
}

TEST(WaysOut, EveryEndOfARunClosesTheVirtualBoard) {
  const std::string kOnBoard = "; on virtual board (built-in board)";
  const std::vector<WayOut> cases = {
      {"completed", kIdcode, {}, "", 0, ": 3 statements, 1 check passed, *"},
      {"check failed", "SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (12345678);\n", {}, "", 1,
       ":2: check failed: expected 12345678, got F6E5F093, mask FFFFFFFF" + kOnBoard},
      {"Break at a step", kIdcode, {"--single-step"}, "\n\nb\n", 1, ":3: stopped by the operator" + kOnBoard},
      {"no more answers", kIdcode, {"--single-step"}, "", 1, ":1: stopped by the operator" + kOnBoard},
      {"bail-out", "SIR 8 TDI (01);\n\nSTATE NOWHERE;\n", {}, "", 1,
       ":3: I don't recognize state: NOWHERE" + kOnBoard},
      {"unknown statement", "SIR 8 TDI (01);\nPIO (HLX);\n", {}, "", 1, ":2: I don't know how to do a PIO" + kOnBoard},
      {"failed chip call", kIdcode, {}, "", 1,
       ":2: FT_Write - packet write returned 0x4: injected failure of FT_Write (0x4)" + kOnBoard},
      {"failed set-up", kIdcode, {}, "", 2, ""},
  };
  for (const WayOut& c : cases) {
    SCOPED_TRACE(c.name);
    VirtualD2xx board;
    // The set-up's write, then the run's first block: everything up to the
    // check in line 2.
    if (std::string(c.name) == "failed chip call") board.FailCall(Op::Write, 2, adapter::FT_IO_ERROR);
    if (std::string(c.name) == "failed set-up") board.FailCall(Op::SetBitMode, 2, adapter::FT_IO_ERROR);
    WayOut on_board = c;
    on_board.options.insert(on_board.options.begin(), "--virtual");
    Play(on_board, board);
    EXPECT_FALSE(board.IsOpen());
    EXPECT_EQ(board.Mode(), adapter::FT_BITMODE_RESET) << "the pins are released";
    EXPECT_EQ(board.CallCount(Op::Close), 1);
  }
  // A full disk: the first line out fails, and the run ends in the
  // statement it echoed.
  VirtualD2xx board;
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  Play({"full disk", kIdcode, {"--virtual"}, "", 1,
        ":1: cannot write the log to standard output: No space left on device; on virtual board (built-in board)"},
       board, full);
  std::fclose(full);
  EXPECT_FALSE(board.IsOpen());
  EXPECT_EQ(board.CallCount(Op::Close), 1);
}

// A chip that would not close may still drive its pins: the status says so.
TEST(WaysOut, AFailedCloseIsShownAndEndsWithStatusOne) {
  TempDir dir;
  const std::string svf = dir.Write("x.svf", kIdcode);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--virtual", svf}, std::vector<std::string>{"--virtual", "--detect"}}) {
    SCOPED_TRACE(args.front());
    VirtualD2xx board;
    board.FailCall(Op::Close, 1, adapter::FT_IO_ERROR);
    const PlayResult r = PlayInProcess(args, &board);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Bad result: FT_Close returned 0x4"), std::string::npos) << r.err;
    EXPECT_EQ(board.CallCount(Op::Close), 1);
    EXPECT_TRUE(board.IsOpen());
  }
}

TEST(Refusals, NothingIsTouchedForABadCommandLineOrFile) {
  TempDir dir;
  const std::string good = dir.Write("x.svf", kIdcode);
  const std::string fifo = dir.Path("fifo.svf");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(dir.Path("folder.svf"));
  const std::vector<std::vector<std::string>> refused = {
      {"--rate", "abc", good},  {"--rate", "-5", good},         {"--rate", "0", good},
      {"--rate", "2147483648", good}, {"--rate", "1.5", good},  {"--rate", " 9", good},
      {"--rate", "", good},     {"--tck", "D5", "--tdi", "D5", good}, {"--tdi", "D7", good},
      {"--tck", "1", "--tms", "7", "--tdo", "d1", good},       {fifo},
      {"/dev/urandom"},         {dir.Path("folder.svf")},       {dir.Path("missing.svf")},
  };
  for (const auto& args : refused) {
    SCOPED_TRACE(args.front() + " " + (args.size() > 1 ? args[1] : ""));
    VirtualD2xx board;
    std::vector<std::string> on_board = args;
    on_board.insert(on_board.begin(), "--virtual");
    const PlayResult r = PlayInProcess(on_board, &board);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(board.CallCount(Op::ListDevices), 0) << "refused before the chip is touched";
  }
  VirtualD2xx board;
  EXPECT_EQ(PlayInProcess({"--virtual", fifo}, &board).err,
            "Cannot play " + fifo + ": it is a FIFO (named pipe), not a regular file\n");
  EXPECT_EQ(PlayInProcess({"--virtual", "--tms", "7", good}, &board).err,
            "tavrin-play: TCK and TMS would share pin D7 (TCK is on D7 by default, --tms 7); each signal needs a "
            "pin of its own\n");
  // Pins swapped in full are taken; rates at both ends go to the chip, which
  // refuses them as a real FT232R does.
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--tck", "D5", "--tdi", "D7", good}, {"--rate", "1", good}, {"--rate", "2147483647", good}}) {
    VirtualD2xx played;
    std::vector<std::string> on_board = args;
    on_board.insert(on_board.begin(), "--virtual");
    const PlayResult r = PlayInProcess(on_board, &played);
    const bool rate = args.front() == "--rate";
    EXPECT_EQ(played.CallCount(Op::SetBaudRate), rate ? 1 : 0);
    EXPECT_EQ(r.status == 2, rate) << args[1];
    EXPECT_EQ(r.err.find("Bad result: FT_SetBaudRate returned 0x7") != std::string::npos, rate) << r.err;
  }
}

TEST(Refusals, TheVirtualBoardRefusesTheRatesARealChipRefuses) {
  for (const char* typed : {"0", "1", "174", "2500000"}) {  // typed into "Baud Register"
    SCOPED_TRACE(typed);
    MemoryWindow window;
    VirtualD2xx board;
    SystemClock clock;
    player::Player p(window, board, clock);
    p.Form_Load();
    p.cmd_OpenInterface_Click();
    window.baud_text = typed;
    p.txt_Baud_Change();
    p.cmd_FTSetup_Click();
    EXPECT_EQ(p.adapter.PortSetupValid, kFalse);
    ASSERT_FALSE(window.messages.empty());
    EXPECT_EQ(window.messages.back(), "Bad result: FT_SetBaudRate returned 0x7");
    EXPECT_EQ(board.BaudRate(), 9600U) << "the rate stays as it was";
  }
}

#ifdef TAVRIN_TEST_FTDI

// One FT232R on the bus; nothing wired to it, so TDO reads low. The
// wiring hook runs for every byte the chip answers: a signal raised there
// lands in the middle of whatever the run is clocking.
TEST(WaysOut, EveryEndOfARunReleasesTheChipOnTheUsbBus) {
  const std::string scans = "SIR 8 TDI (01);\nSDR 32 TDI (0) TDO (00000000);\nSTATE RESET;\n";
  std::string walk = "SIR 8 TDI (01);\nSTATE";
  for (int i = 0; i < 500; ++i) walk += " IDLE DRPAUSE";
  const std::vector<WayOut> cases = {
      {"completed", scans, {}, "", 0, ": 3 statements, 1 check passed, *"},
      {"check failed", "SIR 8 TDI (01) TDO (FF);\n", {}, "", 1,
       ":1: check failed: expected FF, got 00, mask FF; on FT232R USB UART (serial A100001)"},
      {"Break at a step", scans, {"--single-step"}, "\nb\n", 1,
       ":2: stopped by the operator; on FT232R USB UART (serial A100001)"},
      {"failed chip call", scans, {}, "", 1, ":*"},
      {"failed set-up", scans, {}, "", 2, ""},
      {"SIGINT in a scan", "SIR 8 TDI (FF);\nSDR 100000 TDI (0);\nSTATE RESET;\n", {"--quiet"}, "", 1,
       ":2: stopped by the operator; on FT232R USB UART (serial A100001)"},
      {"SIGTERM in a STATE walk", walk + ";\nSTATE RESET;\n", {"--quiet"}, "", 1,
       ":2: stopped by the operator; on FT232R USB UART (serial A100001)"},
  };
  for (const WayOut& c : cases) {
    SCOPED_TRACE(c.name);
    auto api = std::make_unique<adapter::ftdi::FakeFtdiApi>();
    adapter::ftdi::FakeChip& chip = api->AddChip();
    adapter::FtdiD2xx backend(std::move(api));
    const std::string name = c.name;
    if (name == "failed chip call") chip.FailCall("SubmitWrite", 2, -1);  // the run's first block
    if (name == "failed set-up") chip.FailCall("SetBitmode", 2, -1);
    int answered = 0;
    const int signal = name == "SIGINT in a scan" ? SIGINT : SIGTERM;
    const int raise_at = name == "SIGINT in a scan" ? 30000 : 600;
    if (name.rfind("SIG", 0) == 0) {
      chip.wiring = [&answered, signal, raise_at](std::uint8_t) -> std::uint8_t {
        if (++answered == raise_at) std::raise(signal);
        return 0;
      };
    }
    Play(c, backend);
    // A run stops after the block in flight (372 bytes) and what was
    // already queued behind it (the rest of 16 bits, or of a walk),
    // padded to a packet (62 bytes).
    if (name.rfind("SIG", 0) == 0) {
      EXPECT_LE(answered, raise_at + 372 + 62);
    }
    EXPECT_FALSE(chip.open);
    EXPECT_EQ(chip.mode, 0) << "back in serial mode: the pins are released";
    EXPECT_EQ(chip.calls["Close"], 1);
  }
}

// The computer's devices as tavrin-play sees them: the USB bus (with or
// without one FT232R), then the virtual board. The virtual board is played
// into only when asked for; without an adapter nothing is played.
TEST(Choice, TheVirtualBoardOnlyWhenAskedAndTheAdapterNamed) {
  const std::string usb = "FT232R USB UART (serial A100001)";
  const std::string board = "virtual board (built-in board)";
  const std::string none = "tavrin-play: no adapter found: no FT232R or FT232B adapter (USB 0403:6001) answered "
                           "through libftdi; --virtual plays into the virtual board instead\n";
  struct Case {
    bool chip_on_bus;
    std::vector<std::string> options;
    int status;
    std::string played_into;  // the adapter named by the log and the summary; empty: none
    std::string err;          // standard error when nothing was played
  };
  const std::vector<Case> cases = {
      {false, {}, 2, "", none},
      {false, {"--virtual"}, 0, board, ""},
      {false, {"--device", "0"}, 0, board, ""},
      {false, {"--serial", "VIRT0001"}, 0, board, ""},
      {false, {"--serial", "A1"}, 2, "",
       "tavrin-play: no FT232R or FT232B adapter has the serial number 'A1'; the serial numbers found: VIRT0001 "
       "(see --list)\n"},
      {true, {}, 1, usb, ""},  // nothing is wired to the chip: the check fails
      {true, {"--virtual"}, 0, board, ""},
      {true, {"--device", "1"}, 0, board, ""},
      {true, {"--serial", "A100001"}, 1, usb, ""},
      {true, {"--serial", "X"}, 2, "",
       "tavrin-play: no FT232R or FT232B adapter has the serial number 'X'; the serial numbers found: A100001, "
       "VIRT0001 (see --list)\n"},
      {true, {"--virtual", "--device", "0"}, 2, "",
       "tavrin-play: --virtual plays into the virtual board, but --device 0 is FT232R USB UART\n"},
  };
  TempDir dir;
  const std::string svf = dir.Write("x.svf", kIdcode);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.options) + (c.chip_on_bus ? " with a chip" : ""));
    auto api = std::make_unique<adapter::ftdi::FakeFtdiApi>();
    if (c.chip_on_bus) api->AddChip();
    adapter::FtdiD2xx bus(std::move(api));
    VirtualD2xx virtual_board;
    adapter::DeviceList devices({&bus, &virtual_board});
    std::vector<std::string> args = c.options;
    args.push_back(svf);
    const PlayResult r = PlayInProcess(args, &devices);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_EQ(virtual_board.CallCount(Op::OpenEx) != 0, c.played_into == board);
    if (c.played_into.empty()) {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, c.err);
    } else {
      EXPECT_EQ(r.out.rfind("Adapter: " + c.played_into + "\nOpening " + svf + "\n", 0), 0U) << r.out;
      EXPECT_EQ(r.Summary().substr(r.Summary().size() - c.played_into.size() - 5), "; on " + c.played_into);
    }
  }
}

#endif

}  // namespace
}  // namespace tavrin::cli
