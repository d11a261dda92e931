// SPDX-License-Identifier: Apache-2.0

#include "cli/play.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapter/baud_divisor.h"
#include "adapter/d2xx.h"
#include "adapter/tck.h"
#include "cli/console_window.h"
#include "cli/signals.h"
#include "cli/summary.h"
#include "common/numbers.h"
#include "devices/system_devices.h"
#include "jtag/detect.h"
#include "jtag/parts.h"
#include "player/player.h"
#include "svf/run_driver.h"
#ifdef TAVRIN_HAVE_ESTIMATE
#include "player/estimate.h"
#include "board/board_spec.h"
#include "board/models/catalogue.h"
#include "jtag/parts.h"
#include "player/rehearsal.h"
#endif

#ifndef TAVRIN_VERSION
#define TAVRIN_VERSION "unknown"
#endif

namespace tavrin::cli {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRunFailed = 1;
constexpr int kExitUnusable = 2;

constexpr std::size_t kSignalCount = 4;
constexpr std::array<const char*, kSignalCount> kSignalNames = {"TCK", "TMS", "TDI", "TDO"};
constexpr std::array<const char*, kSignalCount> kPinOptions = {"--tck", "--tms", "--tdi", "--tdo"};
// The pins that start-up selects.
constexpr std::array<int, kSignalCount> kDefaultPins = {7, 1, 5, 6};

// The names the window shows beside D0 to D7.
constexpr std::array<const char*, 8> kPinNames = {"TXD", "RXD", "RTS", "CTS", "DTR", "DSR", "DCD", "RI"};

// "D5", "d5", "5", or the pin's name in any case ("DSR", "dsr").
std::optional<int> ParsePin(const std::string& text) {
  std::string t = AsciiUpper(text);
  for (std::size_t i = 0; i < kPinNames.size(); ++i) {
    if (t == kPinNames[i]) return static_cast<int>(i);
  }
  if (!t.empty() && t[0] == 'D') t.erase(0, 1);
  if (t.size() != 1 || t[0] < '0' || t[0] > '7') return std::nullopt;
  return t[0] - '0';
}

// How much of a file is looked at for binary data.
constexpr std::size_t kSniffBytes = std::size_t{64} << 10U;

// Why a file with an SVF name is no SVF file: its start holds a zero byte,
// which no text has.
std::optional<std::string> BinaryContent(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;  // the run says why
  std::vector<char> start(kSniffBytes);
  std::size_t got = 0;
  while (got < start.size()) {
    const ssize_t n = ::read(fd, start.data() + got, start.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  const auto zero = std::find(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(got), '\0');
  if (zero == start.begin() + static_cast<std::ptrdiff_t>(got)) return std::nullopt;
  return "tavrin-play: " + path + " is not an SVF file: it holds binary data (a zero byte at offset " +
         std::to_string(zero - start.begin()) + ")";
}

// A whole number from 1 to 2^31-1, written with digits only.
std::optional<std::int32_t> ParseRate(const std::string& text) {
  if (text.empty()) return std::nullopt;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const std::size_t first = std::min(text.find_first_not_of('0'), text.size());
  if (text.size() - first > 10) return std::nullopt;
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data() + first, text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    if (first != text.size()) return std::nullopt;
    value = 0;  // all zeros
  }
  if (value < 1 || value > 2147483647U) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

// Why the file cannot be played, before anything is clocked: it cannot be
// opened, or it is no regular file (a FIFO would block the player until a
// writer comes, a device such as /dev/urandom never ends).
std::optional<std::string> RefusedFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "Cannot open " + path + ": " + std::strerror(errno);
  struct stat st {};
  const int stat_result = ::fstat(fd, &st);
  const int stat_error = errno;
  ::close(fd);
  if (stat_result != 0) return "Cannot open " + path + ": " + std::strerror(stat_error);
  if (S_ISDIR(st.st_mode)) return "Cannot open " + path + ": it is a folder";
  if (S_ISREG(st.st_mode)) return std::nullopt;
  const char* kind = S_ISFIFO(st.st_mode)  ? "a FIFO (named pipe)"
                     : S_ISCHR(st.st_mode) ? "a character device"
                     : S_ISBLK(st.st_mode) ? "a block device"
                     : S_ISSOCK(st.st_mode) ? "a socket"
                                            : "not a file";
  return "Cannot play " + path + ": it is " + kind + ", not a regular file";
}

// Two signals on one pin, said with the options that put them there.
std::optional<std::string> SharedPin(const std::array<std::string, kSignalCount>& given,
                                     const std::array<int, kSignalCount>& pins) {
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    for (std::size_t j = i + 1; j < kSignalCount; ++j) {
      if (pins[i] != pins[j]) continue;
      auto how = [&](std::size_t s) {
        return given[s].empty() ? std::string(kSignalNames[s]) + " is on D" + std::to_string(pins[s]) + " by default"
                                : std::string(kPinOptions[s]) + " " + given[s];
      };
      return std::string(kSignalNames[i]) + " and " + kSignalNames[j] + " would share pin D" +
             std::to_string(pins[i]) + " (" + how(i) + ", " + how(j) + "); each signal needs a pin of its own";
    }
  }
  return std::nullopt;
}

int ExitFor(svf::RunOutcome outcome) {
  switch (outcome) {
    case svf::RunOutcome::Completed: return kExitOk;
    case svf::RunOutcome::Failed: return kExitRunFailed;
    default: return kExitUnusable;
  }
}

// Text for a stream: as it is, or escaped when the stream is a terminal
// (what a USB device calls itself is shown, not obeyed).
void AppendShown(std::string& to, std::string_view text, std::FILE* stream) {
  if (fileno(stream) >= 0 && isatty(fileno(stream)) != 0) {
    AppendEscaped(to, text);
  } else {
    to.append(text);
  }
}

// The serial number of a list entry; empty when the chip has none.
std::string EntrySerial(adapter::D2xx& chip, const std::string& entry) {
  // The entry's number is the device index.
  const auto index = static_cast<std::uint32_t>(std::strtoul(entry.c_str(), nullptr, 10));
  std::array<char, adapter::kDescriptionBufferSize> buf{};
  if (chip.FT_ListDevices(index, buf.data(), buf.size(), adapter::FT_LIST_BY_INDEX | adapter::FT_OPEN_BY_SERIAL_NUMBER) !=
      adapter::FT_OK) {
    return {};
  }
  return {buf.data(), strnlen(buf.data(), buf.size())};
}

void PrintList(player::Player& p, ConsoleWindow& window, std::FILE* out) {
  adapter::D2xx& chip = p.adapter.Chip();
  for (const std::string& entry : window.interface_entries) {
    const std::string serial = EntrySerial(chip, entry);
    std::string line = entry;
    if (!serial.empty()) line.append("  serial ").append(serial);
    std::string shown;
    AppendShown(shown, line, out);
    std::fprintf(out, "%s\n", shown.c_str());
  }
}

// Text written with stdio (help, version, the list) that could not be
// written whole: 1, with the reason on standard error.
int FinishStdio(std::FILE* out, std::FILE* err, int status) {
  errno = 0;
  if (std::fflush(out) == 0 && std::ferror(out) == 0) return status;
  std::fprintf(err, "tavrin-play: cannot write to standard output: %s\n",
               std::strerror(errno != 0 ? errno : EIO));
  return kExitRunFailed;
}

// As closing the window does: the adapter is closed and its pins released.
// An adapter that is open without a valid set-up (the set-up failed) is
// closed too, where the window would only remind the operator of it.
void ShutDown(player::Player& p) {
  if (p.adapter.InterfaceOpen == kTrue && p.adapter.PortSetupValid != kTrue) p.cmd_CloseInterface_Click();
  p.Form_Unload();
}

struct Settings {
  std::string file;
  bool list = false;
  std::optional<int> device;
  std::string serial;
  // --virtual, or --board: only the virtual board is played into.
  bool virtual_board = false;
  std::string board;
  std::array<std::string, kSignalCount> pin_texts;
  std::array<std::optional<int>, kSignalCount> pins;
  std::optional<std::int32_t> rate;
  bool single_step = false;
  bool quiet = false;
  bool standard = false;
  bool detect = false;
  // A rehearsal: the virtual board holds a model of the part (--part, or
  // the part the file identifies), blank or holding another design.
  bool rehearse = false;
  std::string part;
  bool blank = false;
  std::string board_state;
  std::optional<board::BoardSpec> rehearsal_board;
  std::string rehearsal_name;
};

// The parts a rehearsal can model, one line each.
void PrintParts(std::FILE* out) {
  std::fputs("PART          FAMILY          IR  IDENTIFIED BY\n", out);
  for (const jtag::KnownPart* p : board::ModelledParts()) {
    char id[64];
    if (p->mask != 0) {
      std::snprintf(id, sizeof id, "IDCODE %08X mask %08X", p->idcode, p->mask);
    } else {
      std::snprintf(id, sizeof id, "silicon ID %s", p->silicon_id != nullptr ? p->silicon_id : "");
    }
    std::fprintf(out, "%-13s %-15s %2u  %s\n", p->name, p->family, p->ir_bits, id);
  }
}

// The board of a rehearsal, or the exit status when there is none; the
// part comes from --part or from the file, and a line says which.
int ChooseRehearsal(Settings& s, std::FILE* err) {
  const jtag::KnownPart* part = nullptr;
  if (!s.part.empty()) {
    part = jtag::PartNamed(s.part);
    if (part == nullptr || !board::IsModelled(*part)) {
      std::fprintf(err, "tavrin-play: --part %s: no modelled part has that name (tavrin-play --list-parts)\n",
                   s.part.c_str());
      return kExitUnusable;
    }
  } else {
    const player::PartOfFile found = player::IdentifyPart(s.file);
    if (!found.error.empty()) {
      std::fprintf(err, "tavrin-play: cannot read %s: %s\n", s.file.c_str(), found.error.c_str());
      return kExitUnusable;
    }
    if (found.part == nullptr) {
      std::fprintf(err, "tavrin-play: %s identifies no part: it checks no IDCODE or silicon-ID words of a part "
                        "the virtual board knows; choose one with --part (tavrin-play --list-parts)\n",
                   s.file.c_str());
      return kExitUnusable;
    }
    if (!board::IsModelled(*found.part)) {
      std::fprintf(err, "tavrin-play: %s:%llu checks for part %s (%s), which the virtual board does not model yet; "
                        "choose a part with --part (tavrin-play --list-parts)\n",
                   s.file.c_str(), static_cast<unsigned long long>(found.line), found.part->name, found.part->family);
      return kExitUnusable;
    }
    part = found.part;
    std::fprintf(err, "tavrin-play: %s:%llu checks for part %s (%s): rehearsing on a model of it\n", s.file.c_str(),
                 static_cast<unsigned long long>(found.line), part->name, part->family);
  }
  board::ModelChoice choice;
  choice.part = part->name;
  choice.blank = s.blank;
  board::BoardSpec b;
  b.chain.push_back(board::ModelledDevice(choice));
  s.rehearsal_board = std::move(b);
  s.rehearsal_name = std::string(part->name) + (s.blank ? ", blank" : ", holding another design");
  return kExitOk;
}

// The modelled parts' accounts after a run, in the log, and a line before
// the summary when a part did not carry out every step.
void ReportRehearsal(ConsoleWindow& window, const std::vector<std::string>& report, std::size_t refusals,
                     std::vector<std::string>& lines_before_summary) {
  for (const auto& l : player::RehearsalLines(report)) window.AppendLog(l);
  if (refusals != 0) lines_before_summary.push_back("tavrin-play: " + player::RefusalLine(refusals));
}

// The option that asked for the virtual board.
std::string VirtualOption(const Settings& s) { return s.board.empty() ? "--virtual" : "--board " + s.board; }

// Finds the adapter the options name (the first real one when they name
// none), opens it and sets it up. Gives 0, or the exit status when there is
// none or it cannot be used; the messages say why.
int OpenAdapter(player::Player& p, ConsoleWindow& window, const Settings& s) {
  adapter::D2xx& chip = p.adapter.Chip();
  const std::vector<std::string>& entries = window.interface_entries;
  auto is_virtual = [&](std::size_t i) { return devices::IsVirtualBoard(adapter::DescriptionOfEntry(entries[i])); };
  std::optional<std::size_t> chosen;
  std::string how;  // the option that chose it
  if (!s.serial.empty()) {
    std::string found;
    for (std::size_t i = 0; i < entries.size() && !chosen; ++i) {
      const std::string serial = EntrySerial(chip, entries[i]);
      if (serial == s.serial) chosen = i;
      if (!serial.empty()) found += (found.empty() ? "" : ", ") + serial;
    }
    if (!chosen) {
      window.PrintError("tavrin-play: no FT232R or FT232B adapter has the serial number '" + s.serial + "'; " +
                        (found.empty() ? std::string("none with a serial number was found")
                                       : "the serial numbers found: " + found) +
                        " (see --list)");
      return kExitUnusable;
    }
    how = "--serial " + s.serial;
  } else if (s.device) {
    if (*s.device < 0 || *s.device >= window.InterfaceEntryCount()) {
      window.PrintError("tavrin-play: there is no adapter entry " + std::to_string(*s.device) + " (see --list)");
      return kExitUnusable;
    }
    chosen = static_cast<std::size_t>(*s.device);
    how = "--device " + std::to_string(*s.device);
  } else {
    for (std::size_t i = 0; i < entries.size() && !chosen; ++i) {
      if (is_virtual(i) == s.virtual_board) chosen = i;
    }
    if (!chosen && s.virtual_board) {
      window.PrintError("tavrin-play: " + VirtualOption(s) + ": there is no virtual board among the adapters");
      return kExitUnusable;
    }
    if (!chosen) {
      window.PrintError(devices::RealAdaptersBuiltIn()
                            ? "tavrin-play: no adapter found: no FT232R or FT232B adapter (USB 0403:6001) answered "
                              "through libftdi; --virtual plays into the virtual board instead"
                            : "tavrin-play: no adapter: this build has no real-adapter backend (libftdi1); --virtual "
                              "plays into the virtual board instead");
      return kExitUnusable;
    }
  }
  if (s.virtual_board && !is_virtual(*chosen)) {
    window.PrintError("tavrin-play: " + VirtualOption(s) + " plays into the virtual board, but " + how + " is " +
                      adapter::DescriptionOfEntry(entries[*chosen]));
    return kExitUnusable;
  }
  window.SelectInterfaceEntry(static_cast<int>(*chosen));
  // By serial number where the chip has one: two adapters may share a
  // description.
  const std::string serial = EntrySerial(chip, entries[*chosen]);
  if (serial.empty()) {
    p.adapter.cmd_OpenInterface_Click();
  } else {
    p.adapter.OpenBySerialNumber(serial);
  }
  if (p.adapter.InterfaceOpen == kTrue) p.cmd_FTSetup_Click();
  if (p.adapter.InterfaceOpen != kTrue || p.adapter.PortSetupValid != kTrue) {
    const std::string why = chip.LastErrorText();
    if (!why.empty()) window.PrintError("tavrin-play: adapter: " + why);
    return kExitUnusable;
  }
  return kExitOk;
}

// --detect: the adapter, then the chain, one line a device from TDI to TDO,
// then the IR length.
int PrintChain(player::Player& p, ConsoleWindow& window, std::FILE* out, std::FILE* err) {
  std::string adapter_line = "adapter: ";
  AppendShown(adapter_line, p.adapter.OpenedName(), out);
  std::fprintf(out, "%s\n", adapter_line.c_str());
  const std::optional<jtag::ChainReport> chain = p.DetectChain();
  if (!chain) return kExitUnusable;  // no adapter set up: the messages said why
  for (std::size_t i = 0; i < chain->devices.size(); ++i) {
    const auto& id = chain->devices[i].idcode;
    char line[64];
    if (id) {
      std::snprintf(line, sizeof line, "device %zu: IDCODE %08X  ", i, *id);
    } else {
      std::snprintf(line, sizeof line, "device %zu: BYPASS (no IDCODE)", i);
    }
    std::fputs((line + (id ? jtag::DescribeIdcode(*id) : std::string()) + "\n").c_str(), out);
  }
  if (!chain->problem.empty()) {
    window.PrintError("tavrin-play: " + chain->problem);
    return FinishStdio(out, err, kExitRunFailed);
  }
  std::fprintf(out, "chain: %zu device%s, instruction registers %u bits in all (first device nearest TDI)\n",
               chain->devices.size(), chain->devices.size() == 1 ? "" : "s", chain->ir_length);
  return FinishStdio(out, err, kExitOk);
}

// What happens after start-up. Returns the exit status; a run that started
// leaves its facts for the summary.
int Play(player::Player& p, ConsoleWindow& window, const Settings& s, std::FILE* out, std::FILE* err,
         std::optional<RunFacts>& facts) {
  if (s.list) {
    PrintList(p, window, out);
    return FinishStdio(out, err, kExitOk);
  }
  // The options, applied to the controls as the operator would.
  const Signal signals[kSignalCount] = {Signal::TCK, Signal::TMS, Signal::TDI, Signal::TDO};
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (!s.pins[i]) continue;
    window.SetPinListIndex(signals[i], *s.pins[i]);
    p.adapter.cmb_TCK_Change();  // every pin box's change marks the set-up outdated
  }
  if (s.rate) {
    window.baud_text = std::to_string(*s.rate);
    p.txt_Baud_Change();
  }
  window.single_step = s.single_step ? 1 : 0;
  window.standard_svf = s.standard ? 1 : 0;

  RunFacts f;
  f.file = s.file;
  // A signal before the run: nothing is opened or clocked.
  if (!s.detect && CaughtSignal() != 0) {
    f.end = RunFacts::End::Operator;
    facts = f;
    return kExitRunFailed;
  }
  if (const int status = OpenAdapter(p, window, s); status != kExitOk) return status;
  if (s.detect) return PrintChain(p, window, out, err);
  window.selected_file = std::filesystem::path(s.file).filename().string();
  window.file_path = s.file;

  const std::size_t messages_before = window.messages.size();
  const auto start = std::chrono::steady_clock::now();
  p.cmd_Process_Click();
  f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const svf::RunOutcome outcome = p.driver.LastOutcome();
  if (outcome != svf::RunOutcome::Completed && outcome != svf::RunOutcome::Failed) {
    // Refused, or the file unusable: the message says why.
    const std::string why = p.adapter.Chip().LastErrorText();
    if (!why.empty() && window.messages.size() > messages_before) window.PrintError("tavrin-play: adapter: " + why);
    return ExitFor(outcome);
  }
  const std::vector<std::string> run_messages(window.messages.begin() + static_cast<std::ptrdiff_t>(messages_before),
                                              window.messages.end());
  std::optional<RunFacts> played = player::FactsOfLastRun(p, s.file, f.seconds, run_messages, window.RecentLines());
  if (played) f = std::move(*played);
  facts = f;
  return ExitFor(outcome);
}

// After a run or an estimate: a failed write to standard output said, or
// made the summary's end; then the summary, when there is one. Gives the
// exit status.
int Conclude(ConsoleWindow& window, std::optional<RunFacts>& facts, int status,
             const std::vector<std::string>& lines_before_summary = {}) {
  if (const int error = window.OutputError(); error != 0) {
    if (error == ETIMEDOUT) {
      // Only after a signal: the stop is what the summary tells.
      window.PrintError("tavrin-play: standard output was not read for a second after the stop; the rest of the "
                        "log is dropped");
    } else if (!facts) {
      window.PrintError(std::string("tavrin-play: cannot write to standard output: ") + std::strerror(error));
    } else if (facts->end == RunFacts::End::Completed || facts->end == RunFacts::End::Operator) {
      // The failed write stopped the run (as Break does), or came at its end.
      facts->end = RunFacts::End::WriteFailed;
      facts->write_error = error;
    }
    status = kExitRunFailed;
  }
  for (const std::string& line : lines_before_summary) window.PrintError(line);
  if (facts) window.PrintErrorLine(SummaryLine(*facts));
  if (facts && facts->looks_standard) window.PrintErrorLine(svf::kStandardSvfHint);
  return status;
}

// --estimate: the file through the simulated chip, once per USB profile; the
// log of the first, then one line per profile on standard error, the checks
// the board did not meet, and the summary. A failed check does not stop the
// estimate (the whole file is timed); anything else that ends a run does,
// and the figures say up to which line. A run that was refused or could not
// start has no figure; a signal or Break stops the estimate as it stops a
// run.
int Estimate(const Settings& s, const std::string& rate, std::FILE* out, std::FILE* err) {
#ifdef TAVRIN_HAVE_ESTIMATE
  player::EstimateOptions options;
  options.svf_path = s.file;
  options.standard_reading = s.standard;
  options.rate = s.rate ? rate : std::string();
  options.stop_on_failed_check = false;
  if (s.rehearsal_board) {
    options.board = s.rehearsal_board;
    options.board_name = s.rehearsal_name;
  } else if (!s.board.empty()) {
    auto loaded = board::LoadBoardFile(s.board);
    if (!loaded.board) {
      std::fprintf(err, "tavrin-play: %s\n", loaded.error.c_str());
      return kExitUnusable;
    }
    options.board = *loaded.board;
    options.board_name = std::filesystem::path(s.board).filename().string();
  }
  options.board_state_file = s.board_state;
  if (std::any_of(s.pins.begin(), s.pins.end(), [](const auto& pin) { return pin.has_value(); })) {
    player::EstimateOptions::Pins pins;
    int* const fields[kSignalCount] = {&pins.tck, &pins.tms, &pins.tdi, &pins.tdo};
    for (std::size_t i = 0; i < kSignalCount; ++i) *fields[i] = s.pins[i].value_or(kDefaultPins[i]);
    options.pins = pins;
  }

  // From here on Ctrl-C, SIGTERM, SIGHUP and SIGQUIT are Break.
  const SignalCatcher catcher;
  CoarseClock console_clock;
  ConsoleWindow window(out, err, ConsoleSettings::Detect(out, err, s.quiet), console_clock);
  bool broken = false;  // a signal, or a failed write of the log
  window.brk = [&broken] { broken = true; };
  options.stop = [&broken] { return broken || CaughtSignal() != 0; };

  std::vector<std::string> lines;  // the figures, then the checks not met
  std::optional<RunFacts> facts;
  int status = kExitOk;
  std::uint64_t checks_failed = 0;
  std::vector<std::string> rehearsal;
  std::size_t refusals = 0;
  for (const char* name : {"frame", "fast"}) {
    const bool first = !facts.has_value();
    RunFacts f = first ? RunFacts{} : *facts;
    f.file = s.file;
    f.adapter = "virtual board (" + (options.board_name.empty() ? std::string("built-in board") : options.board_name) +
                ") on a simulated USB FT232R";
    if (options.stop()) {
      // A signal before the run: nothing (more) is played.
      f.end = RunFacts::End::Operator;
      facts = f;
      status = kExitRunFailed;
      break;
    }
    options.profile = adapter::usbsim::ProfileByName(name).value_or(adapter::usbsim::FrameProfile());
    // The first run's log and messages go out as a run's do.
    options.echo = first ? &window : nullptr;
    const std::size_t messages_before = window.messages.size();
    const auto start = std::chrono::steady_clock::now();
    const player::EstimateResult result = player::Estimate(options);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string& m : result.messages) window.PrintError(m);
    if (result.outcome != svf::RunOutcome::Completed && result.outcome != svf::RunOutcome::Failed) {
      // Refused, or the file unusable: the message says why.
      status = ExitFor(result.outcome);
      facts.reset();
      lines.clear();
      break;
    }
    lines.push_back(player::EstimateLine(result, name));
    if (result.outcome != svf::RunOutcome::Completed || result.checks_failed != 0) status = kExitRunFailed;
    if (first) {
      rehearsal = result.rehearsal;
      refusals = result.refusals;
      checks_failed = result.checks_failed;
      f.seconds = seconds;
      f.line = result.stop_line;
      f.statements = result.statements;
      f.checks_passed = result.checks_passed;
      if (result.outcome == svf::RunOutcome::Completed) {
        f.end = RunFacts::End::Completed;
      } else if (!result.stopped) {
        f.end = RunFacts::End::Other;
        const std::vector<std::string> run_messages(
            window.messages.begin() + static_cast<std::ptrdiff_t>(messages_before), window.messages.end());
        f.reason = ReasonOfFailure(run_messages, window.RecentLines(), "");
      }
      window.Finish();
    }
    if (result.stopped) {
      f.end = RunFacts::End::Operator;
      f.line = result.stop_line;
    }
    facts = f;
    if (result.stopped) break;
  }
  if (!lines.empty()) {
    lines.push_back(std::to_string(checks_failed) + (checks_failed == 1 ? " check" : " checks") +
                    " not met on the virtual board");
  }
  ReportRehearsal(window, rehearsal, refusals, lines);
  if (refusals != 0 && status == kExitOk) status = kExitRunFailed;
  window.Finish();
  return Conclude(window, facts, status, lines);
#else
  (void)s;
  (void)rate;
  (void)out;
  std::fputs("tavrin-play: this build has no simulated USB chip (it needs libftdi1)\n", err);
  return kExitUnusable;
#endif
}

}  // namespace

int PlayMain(int argc, const char* const* argv, std::FILE* out, std::FILE* err, std::FILE* terminal) {
  PlayEnvironment environment;
  environment.out = out;
  environment.err = err;
  environment.terminal = terminal;
  return PlayMain(argc, argv, environment);
}

int PlayMain(int argc, const char* const* argv, const PlayEnvironment& environment) {
  std::FILE* out = environment.out;
  std::FILE* err = environment.err;
  CLI::App app{"Plays an SVF file into a JTAG target through an FT232R or FT232B adapter in bit-bang mode,\n"
               "or into the built-in virtual board.",
               "tavrin-play"};
  Settings s;
  std::string rate_text;
  std::string freq_text;
  std::string vcd;
  std::string trace;
  bool version = false;

  app.add_option("FILE", s.file, "the SVF file to play");
  app.add_flag("--list", s.list, "print the adapter list as Find builds it, with serial numbers, and exit");
  app.add_option("--device", s.device, "play through entry N of that list (default: the first real adapter)");
  app.add_option("--serial", s.serial, "play through the adapter with this serial number");
  app.add_flag("--virtual", s.virtual_board, "play into the virtual board (the built-in board, or --board's)");
  app.add_option("--board", s.board, "board description (JSON) for the virtual board; plays into it");
  app.add_option("--tck", s.pin_texts[0], "TCK pin, D0 to D7 or its name: TXD RXD RTS CTS DTR DSR DCD RI (default D7)");
  app.add_option("--tms", s.pin_texts[1], "TMS pin (default D1)");
  app.add_option("--tdi", s.pin_texts[2], "TDI pin (default D5)");
  app.add_option("--tdo", s.pin_texts[3], "TDO pin (default D6)");
  app.add_option("--rate", rate_text,
                 "bit-bang rate, 1 to 2147483647, as typed in \"Baud Register\" (default: the maximum clock)");
  app.add_option("--freq", freq_text,
                 "TCK in hertz, or with k or M (100k, 1M): the fastest rate at or below it");
  app.add_flag("--single-step", s.single_step, "before each statement, Enter steps and b breaks");
  app.add_option("--vcd", vcd, "write the virtual board's pins as a VCD waveform");
  app.add_option("--trace", trace, "write every chip call, with its arguments, status and bytes");
  app.add_flag("--quiet,-q", s.quiet, "do not print the log (the summary line is printed)");
  app.add_flag("--standard", s.standard, "read the file as standard SVF, revision E (\"!\" comments, header and "
                                         "trailer bits, remembered values, RUNTEST clocks)");
  app.add_flag("--detect", s.detect, "reset the chain and list each device's IDCODE and maker, and the IR length");
  bool list_parts = false;
  app.add_flag("--rehearse", s.rehearse,
               "play into a model of the part the file checks for (its IDCODE or silicon ID) on the virtual board");
  app.add_option("--part", s.part, "rehearse on this modelled part (implies --rehearse)");
  app.add_flag("--blank", s.blank, "the rehearsed part starts blank, not holding another design");
  app.add_option("--board-state", s.board_state, "keep the modelled parts' flash in this file between runs");
  app.add_flag("--list-parts", list_parts, "list the parts a rehearsal can model, and exit");
  bool estimate = false;
  app.add_flag("--estimate", estimate,
               "play through a simulated USB FT232R in simulated time and say how long the file would take");
  app.add_flag("--version", version, "print the version and exit");
  app.get_formatter()->column_width(26);

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), out);
    return FinishStdio(out, err, kExitOk);
  } catch (const CLI::ParseError& e) {
    std::fprintf(err, "tavrin-play: %s\nRun with --help for the options.\n", e.what());
    return kExitUnusable;
  }
  if (version) {
    std::fprintf(out, "tavrin-play %s\n", TAVRIN_VERSION);
    return FinishStdio(out, err, kExitOk);
  }
  if (list_parts) {
    PrintParts(out);
    return FinishStdio(out, err, kExitOk);
  }
  if (!s.part.empty()) s.rehearse = true;
  if (s.rehearse && !s.board.empty()) {
    std::fputs("tavrin-play: a rehearsal builds its board from the part; a --board names its parts itself\n", err);
    return kExitUnusable;
  }
  if (s.rehearse && (s.device || !s.serial.empty() || s.detect)) {
    std::fputs("tavrin-play: a rehearsal plays a file into the virtual board; --device, --serial and --detect do "
               "not apply\n", err);
    return kExitUnusable;
  }
  if (s.blank && !s.rehearse) {
    std::fputs("tavrin-play: --blank applies to a rehearsal (--rehearse or --part)\n", err);
    return kExitUnusable;
  }
  if (!s.board_state.empty() && !s.rehearse && s.board.empty()) {
    std::fputs("tavrin-play: --board-state keeps modelled parts' flash: it goes with --rehearse, --part, or a --board "
               "that names parts\n", err);
    return kExitUnusable;
  }
  if (s.rehearse) s.virtual_board = true;
  if (!s.board.empty()) s.virtual_board = true;
  if (s.detect && !s.file.empty()) {
    std::fprintf(err, "tavrin-play: --detect plays no file; %s was given as well\nRun with --help for the options.\n",
                 s.file.c_str());
    return kExitUnusable;
  }
  if (estimate && (s.device || !s.serial.empty())) {
    std::fputs("tavrin-play: --estimate plays into the simulated virtual board; --device and --serial do not apply\n",
               err);
    return kExitUnusable;
  }
  if (!s.list && !s.detect && s.file.empty()) {
    std::fputs("tavrin-play: no SVF file given\nRun with --help for the options.\n", err);
    return kExitUnusable;
  }
  // Everything on the command line is checked before a chip is touched.
  std::array<int, kSignalCount> pins = kDefaultPins;
  for (std::size_t i = 0; i < kSignalCount; ++i) {
    if (s.pin_texts[i].empty()) continue;
    s.pins[i] = ParsePin(s.pin_texts[i]);
    if (!s.pins[i]) {
      std::fprintf(err, "tavrin-play: %s wants a pin D0 to D7 or its name (TXD, RXD, RTS, CTS, DTR, DSR, DCD, RI), "
                        "not '%s'\n", kPinOptions[i], s.pin_texts[i].c_str());
      return kExitUnusable;
    }
    pins[i] = *s.pins[i];
  }
  if (const auto shared = SharedPin(s.pin_texts, pins)) {
    std::fprintf(err, "tavrin-play: %s\n", shared->c_str());
    return kExitUnusable;
  }
  if (app.count("--rate") != 0) {
    s.rate = ParseRate(rate_text);
    if (!s.rate) {
      std::fprintf(err, "tavrin-play: --rate wants a whole number from 1 to 2147483647, not '%s'\n",
                   rate_text.c_str());
      return kExitUnusable;
    }
  }
  // The line that says which TCK --freq gives, printed before the run.
  std::string tck_line;
  if (app.count("--freq") != 0) {
    if (app.count("--rate") != 0) {
      std::fputs("tavrin-play: --rate and --freq both set the clock; give one of them\n", err);
      return kExitUnusable;
    }
    const auto hertz = adapter::ParseFrequency(freq_text);
    if (!hertz) {
      std::fprintf(err, "tavrin-play: --freq wants a TCK frequency in hertz, with k or M for thousands or millions "
                        "(250000, 100k, 1.5M), not '%s'\n", freq_text.c_str());
      return kExitUnusable;
    }
    const auto setting = adapter::SettingForTck(*hertz);
    if (!setting) {
      std::fprintf(err, "tavrin-play: --freq %s is below the slowest TCK the chip clocks, %s (--freq %llu or more)\n",
                   freq_text.c_str(), adapter::Tck{adapter::kMaxBaudEighths}.Text().c_str(),
                   static_cast<unsigned long long>(adapter::SlowestTckHertz()));
      return kExitUnusable;
    }
    const std::string tck = setting->tck.Text();
    if (setting->rate) {
      s.rate = static_cast<std::int32_t>(*setting->rate);
      rate_text = std::to_string(*setting->rate);
      tck_line = "tavrin-play: --freq " + freq_text + ": TCK " + tck + " (rate " + rate_text + ")";
    } else if (setting->above_fastest) {
      tck_line = "tavrin-play: --freq " + freq_text + " is above the fastest TCK the chip clocks: the maximum clock, TCK " +
                 tck;
    } else {
      tck_line = "tavrin-play: --freq " + freq_text + ": TCK " + tck + ", the maximum clock";
    }
  }
  if (!s.list && !s.detect) {
    if (const auto refused = RefusedFile(s.file)) {
      std::fprintf(err, "%s\n", refused->c_str());
      return kExitUnusable;
    }
    // Refused before an adapter is touched; the name in the window's words
    // as well.
    if (!svf::HasSvfEnding(std::filesystem::path(s.file).filename().string())) {
      std::fprintf(err, "tavrin-play: %s is not an SVF file: its name does not end in .svf\n"
                        "Error - expecting a .SVF file\n", s.file.c_str());
      return kExitUnusable;
    }
    if (const auto binary = BinaryContent(s.file)) {
      std::fprintf(err, "%s\n", binary->c_str());
      return kExitUnusable;
    }
  }

  // An output file that is one of the inputs would be emptied before it is
  // read: the SVF file or the board description lost, and a run reported.
  for (const auto& [option, output] : {std::pair<const char*, const std::string&>{"--vcd", vcd}, {"--trace", trace}}) {
    if (output.empty()) continue;
    for (const std::string& input : {s.file, s.board}) {
      std::error_code ec;
      if (!input.empty() && std::filesystem::equivalent(output, input, ec)) {
        std::fprintf(err, "tavrin-play: %s %s would overwrite an input file\n", option, output.c_str());
        return kExitUnusable;
      }
    }
  }
  if (s.rehearse) {
    if (const int status = ChooseRehearsal(s, err); status != kExitOk) return status;
  }
  if (!tck_line.empty() && !s.list) std::fprintf(err, "%s\n", tck_line.c_str());
  if (estimate) return Estimate(s, rate_text, out, err);

  // From here on Ctrl-C, SIGTERM, SIGHUP and SIGQUIT are Break.
  const SignalCatcher catcher;
  std::unique_ptr<devices::SystemDevices> system;
  adapter::D2xx* chip = environment.chip;
  SystemClock clock;
  if (chip == nullptr) {
    devices::Options options;
    options.board_file = s.board;
    options.board = s.rehearsal_board;
    options.board_name = s.rehearsal_name;
    options.board_state_file = s.board_state;
    options.clock = &clock;
    options.vcd_file = vcd;
    options.trace_file = trace;
    std::string error;
    system = devices::SystemDevices::Create(options, &error);
    if (!system) {
      std::fprintf(err, "tavrin-play: %s\n", error.c_str());
      return kExitUnusable;
    }
    chip = &system->Chip();
  }

  CoarseClock console_clock;
  ConsoleWindow window(out, err, ConsoleSettings::Detect(out, err, s.quiet || s.detect), console_clock);
  window.terminal = environment.terminal;
  player::Player p(window, *chip, clock);
  window.awaiting_step = [&p] { return p.flags.AwaitingStep == kTrue; };
  window.step = [&p] { p.cmd_step_Click(); };
  window.brk = [&p] { p.cmd_breakstep_Click(); };

  p.Form_Load();
  std::optional<RunFacts> facts;
  int status = Play(p, window, s, out, err, facts);
  // Every way out of a run closes the adapter and releases its pins.
  ShutDown(p);
  if (p.adapter.CloseFailed() && status == kExitOk) status = kExitRunFailed;
  std::vector<std::string> lines_before_summary;
  if (system) {
    std::vector<std::string> report;
    std::size_t refusals = 0;
    const std::string state_error = system->EndRehearsal(&report, &refusals);
    ReportRehearsal(window, report, refusals, lines_before_summary);
    if (!state_error.empty()) lines_before_summary.push_back("tavrin-play: " + state_error);
    if ((!state_error.empty() || refusals != 0) && status == kExitOk) status = kExitRunFailed;
  }
  window.Finish();
  return Conclude(window, facts, status, lines_before_summary);
}

}  // namespace tavrin::cli
