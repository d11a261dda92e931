#include "cli/play.h"

#include <CLI/CLI.hpp>
#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#include "adapter/d2xx.h"
#include "cli/console_window.h"
#include "devices/system_devices.h"
#include "player/player.h"

#ifndef TAVRIN_VERSION
#define TAVRIN_VERSION "unknown"
#endif

namespace tavrin::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRunFailed = 1;
constexpr int kExitUnusable = 2;

// "D5", "d5" or "5".
std::optional<int> ParsePin(const std::string& text) {
  std::string t = text;
  if (!t.empty() && (t[0] == 'D' || t[0] == 'd')) t.erase(0, 1);
  if (t.size() != 1 || t[0] < '0' || t[0] > '7') return std::nullopt;
  return t[0] - '0';
}

int ExitFor(svf::RunOutcome outcome) {
  switch (outcome) {
    case svf::RunOutcome::Completed: return kExitOk;
    case svf::RunOutcome::Failed: return kExitRunFailed;
    default: return kExitUnusable;
  }
}

void PrintList(player::Player& p, ConsoleWindow& window, std::FILE* out) {
  adapter::D2xx& chip = p.adapter.Chip();
  for (const std::string& entry : window.interface_entries) {
    std::string serial;
    // The entry's number is the device index.
    const std::uint32_t index = static_cast<std::uint32_t>(std::strtoul(entry.c_str(), nullptr, 10));
    std::array<char, adapter::kDescriptionBufferSize> buf{};
    if (chip.FT_ListDevices(index, buf.data(), buf.size(), adapter::FT_LIST_BY_INDEX | adapter::FT_OPEN_BY_SERIAL_NUMBER) ==
        adapter::FT_OK) {
      serial.assign(buf.data(), strnlen(buf.data(), buf.size()));
    }
    std::fprintf(out, "%s%s%s\n", entry.c_str(), serial.empty() ? "" : "  serial ", serial.c_str());
  }
}

}  // namespace

int PlayMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::FILE* terminal) {
  CLI::App app{"Plays an SVF file into a JTAG target through an FT232R or FT232B adapter in bit-bang mode,\n"
               "or into the built-in virtual board.",
               "tavrin-play"};
  std::string file;
  bool list = false;
  std::optional<int> device;
  std::string serial;
  std::string board;
  std::array<std::string, 4> pins;  // TCK, TMS, TDI, TDO
  std::string rate;
  bool single_step = false;
  std::string vcd;
  std::string trace;
  bool quiet = false;
  bool version = false;

  app.add_option("FILE", file, "the SVF file to play");
  app.add_flag("--list", list, "print the adapter list as Find builds it, with serial numbers, and exit");
  app.add_option("--device", device, "play through entry N of that list (default: the first)");
  app.add_option("--serial", serial, "play through the adapter with this serial number");
  app.add_option("--board", board, "board description (JSON) for the virtual board");
  app.add_option("--tck", pins[0], "TCK pin, D0 to D7 (default D7)");
  app.add_option("--tms", pins[1], "TMS pin (default D1)");
  app.add_option("--tdi", pins[2], "TDI pin (default D5)");
  app.add_option("--tdo", pins[3], "TDO pin (default D6)");
  app.add_option("--rate", rate, "bit-bang rate, as typed in \"Baud Register\" (default: the maximum clock)");
  app.add_flag("--single-step", single_step, "before each statement, Enter steps and b breaks");
  app.add_option("--vcd", vcd, "write the virtual board's pins as a VCD waveform");
  app.add_option("--trace", trace, "write every chip call, with its arguments, status and bytes");
  app.add_flag("--quiet,-q", quiet, "do not print the log");
  app.add_flag("--version", version, "print the version and exit");
  app.get_formatter()->column_width(26);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), out);
    return kExitOk;
  } catch (const CLI::ParseError& e) {
    std::fprintf(err, "tavrin-play: %s\nRun with --help for the options.\n", e.what());
    return kExitUnusable;
  }
  if (version) {
    std::fprintf(out, "tavrin-play %s\n", TAVRIN_VERSION);
    return kExitOk;
  }
  if (!list && file.empty()) {
    std::fputs("tavrin-play: no SVF file given\nRun with --help for the options.\n", err);
    return kExitUnusable;
  }
  std::array<std::optional<int>, 4> pin_index;
  const char* names[4] = {"--tck", "--tms", "--tdi", "--tdo"};
  for (std::size_t i = 0; i < 4; ++i) {
    if (pins[i].empty()) continue;
    pin_index[i] = ParsePin(pins[i]);
    if (!pin_index[i]) {
      std::fprintf(err, "tavrin-play: %s wants a pin D0 to D7, not '%s'\n", names[i], pins[i].c_str());
      return kExitUnusable;
    }
  }

  devices::Options options;
  options.board_file = board;
  options.vcd_file = vcd;
  options.trace_file = trace;
  std::string error;
  auto system = devices::SystemDevices::Create(options, &error);
  if (!system) {
    std::fprintf(err, "tavrin-play: %s\n", error.c_str());
    return kExitUnusable;
  }

  ConsoleWindow window(out, err, quiet);
  window.terminal = terminal;
  SystemClock clock;
  player::Player p(window, system->Chip(), clock);
  window.awaiting_step = [&p] { return p.flags.AwaitingStep == kTrue; };
  window.step = [&p] { p.cmd_step_Click(); };
  window.brk = [&p] { p.cmd_breakstep_Click(); };
  InstallInterruptHandler();

  p.Form_Load();
  if (list) {
    PrintList(p, window, out);
    return kExitOk;
  }

  // The options, applied to the controls as the operator would.
  if (device) {
    if (*device < 0 || *device >= window.InterfaceEntryCount()) {
      std::fprintf(err, "tavrin-play: there is no adapter entry %d (see --list)\n", *device);
      return kExitUnusable;
    }
    window.SelectInterfaceEntry(*device);
  }
  const Signal signals[4] = {Signal::TCK, Signal::TMS, Signal::TDI, Signal::TDO};
  for (std::size_t i = 0; i < 4; ++i) {
    if (!pin_index[i]) continue;
    window.SetPinListIndex(signals[i], *pin_index[i]);
    p.adapter.cmb_TCK_Change();  // every pin box's change marks the set-up outdated
  }
  if (!rate.empty()) {
    window.baud_text = rate;
    p.txt_Baud_Change();
  }
  window.single_step = single_step ? 1 : 0;
  window.selected_file = std::filesystem::path(file).filename().string();
  window.file_path = file;

  if (!serial.empty()) {
    p.adapter.OpenBySerialNumber(serial);
    if (p.adapter.InterfaceOpen != kTrue) {
      const std::string why = p.adapter.Chip().LastErrorText();
      if (!why.empty()) std::fprintf(err, "tavrin-play: %s\n", why.c_str());
      return kExitUnusable;
    }
    p.cmd_FTSetup_Click();
  }

  p.cmd_Process_Click();
  window.Finish();
  if (p.driver.LastOutcome() != svf::RunOutcome::Completed) {
    const std::string why = p.adapter.Chip().LastErrorText();
    if (!why.empty() && !window.messages.empty()) std::fprintf(err, "tavrin-play: adapter: %s\n", why.c_str());
  }
  p.Form_Unload();
  return ExitFor(p.driver.LastOutcome());
}

}  // namespace tavrin::cli
