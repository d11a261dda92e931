// SPDX-License-Identifier: Apache-2.0
// tavrin-play's command line: argument vectors from the input, given to
// PlayMain with files standing in for standard output, standard error and
// the terminal.
//
// The input is text. The first two characters of its first line pick the
// SVF file the run may play (kSvfFiles) and the terminal's answers to
// single-step (kTerminals), a digit by its value; every further line is one
// argument, up to a line "%%", after which the rest is the text of b.json
// (without it, b.json holds the built-in board).
//
// Nothing the input says can reach a real adapter, a file of this computer
// or a long wait:
// - the real-adapter backend sees an empty USB bus (LibFtdiApi below stands
//   in for libftdi1's), so the virtual board is the only device (played
//   into when the arguments ask for it: --virtual, --board, its entry;
//   otherwise the run is refused with exit status 2);
// - PlayMain runs with a private folder as its working directory and no
//   argument may hold a '/', so every file it reads or writes is in that
//   folder, which holds nothing but what this target wrote for the input:
//   t.svf (one of the short files below, whose waits add up to a few
//   milliseconds) and b.json;
// - single-step answers come from a file, and its end is Break.
//
// A run must end with status 0, 1 or 2, explain a status of 2 on standard
// error, and let no exception out.
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "adapter/d2xx.h"
#include "adapter/ftdi/ftdi_api.h"
#include "board/board_spec.h"
#include "board/virtual_d2xx.h"
#include "cli/play.h"
#include "devices/system_devices.h"

namespace tavrin::adapter::ftdi {

namespace {

bool g_empty_bus_made = false;

// A USB bus without chips.
class EmptyBus final : public FtdiApi {
 public:
  int ListDevices(std::vector<UsbDeviceInfo>* devices) override {
    if (devices != nullptr) devices->clear();
    return 0;
  }
  int Open(std::uint32_t /*location*/, std::unique_ptr<FtdiPort>* /*port*/) override { return kNoSuchDevice; }
  [[nodiscard]] std::string ErrorString() const override { return "no such device"; }
};

}  // namespace

// Replaces libftdi1's bus for this program: the linker takes this definition
// and leaves the library's out.
std::unique_ptr<FtdiApi> LibFtdiApi() {
  g_empty_bus_made = true;
  return std::make_unique<EmptyBus>();
}

}  // namespace tavrin::adapter::ftdi

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxArgs = 48;
constexpr std::size_t kMaxArgLength = 200;

// The SVF files a run may play: each short, and none waits long (RUNTEST
// 10 TCK waits 1 ms and 10 us).
constexpr std::array<std::string_view, 7> kSvfFiles = {
    // The IDCODE and SCRATCH checks of the built-in board.
    "TRST OFF;\nENDIR IDLE;\nENDDR IDLE;\nSTATE RESET IDLE;\nFREQUENCY 1.0E6 HZ;\n"
    "SIR 8 TDI (01) TDO (01) MASK (03);\nSDR 32 TDI (00000000) TDO (f6e5f093) MASK (0fffffff);\n"
    "SIR 8 TDI (02);\nSDR 16 TDI (a5c3);\nSDR 16 TDI (0000) TDO (a5c3) MASK (ffff);\nRUNTEST 10 TCK;\nSTATE RESET;\n",
    // A check that fails on the built-in board.
    "STATE RESET IDLE;\nSDR 32 TDI (00000000) TDO (12345678);\n",
    // A statement the player does not carry out.
    "// comment\nSTATE IDLE;\nPIO (HLHL);\n",
    "",
    // Ends inside a statement.
    "SIR 8 TDI (01",
    // Walks, pauses, a short wait and end states.
    "ENDIR IRPAUSE;\nENDDR DRPAUSE;\nSIR 8 TDI (ff);\nSDR 1 TDI (1) TDO (0);\nRUNTEST IDLE 10 TCK ENDSTATE RESET;\n"
    "STATE DRPAUSE;\nSTATE IRPAUSE;\nSTATE RESET;\n",
    // Not hexadecimal.
    "SDR 8 TDI (xyz);\n",
};

// Single-step answers.
constexpr std::array<std::string_view, 4> kTerminals = {"", "\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n\n", "b\n", "\n\nb\n"};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "cli_fuzzer: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void Require(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

struct Sandbox {
  std::string folder;   // the working directory of every run
  std::string home;     // the working directory to go back to
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
  std::FILE* terminal = nullptr;
};

Sandbox* g_sandbox = nullptr;

void RemoveSandbox() {
  if (g_sandbox == nullptr) return;
  std::error_code ec;
  fs::remove_all(g_sandbox->folder, ec);
}

void WriteFile(const std::string& path, std::string_view text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  Require(f != nullptr, "cannot write " + path);
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  Require(std::fclose(f) == 0 && ok, "cannot write " + path);
}

// Empties the folder, leaving what the last run wrote nowhere.
void ClearFolder(const std::string& folder) {
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code rm;
    fs::remove_all(it->path(), rm);
  }
}

void Rewind(std::FILE* f) {
  std::rewind(f);
  Require(::ftruncate(::fileno(f), 0) == 0, "cannot empty a stand-in file");
}

std::string Contents(std::FILE* f) {
  std::fflush(f);
  std::string text;
  std::rewind(f);
  std::array<char, 4096> buf{};
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;) text.append(buf.data(), n);
  return text;
}

// A digit picks that entry; any other character its code, modulo n.
std::size_t Choice(char c, std::size_t n) {
  const auto code = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9' ? static_cast<std::size_t>(c - '0') : code) % n;
}

// What the input asks for.
struct Request {
  std::size_t svf = 0;
  std::size_t terminal = 0;
  std::vector<std::string> args;
  bool has_board = false;
  std::string board;
};

Request ParseInput(std::string_view text) {
  Request r;
  std::size_t at = text.find('\n');
  const std::string_view header = text.substr(0, at);
  if (!header.empty()) r.svf = Choice(header[0], kSvfFiles.size());
  if (header.size() > 1) r.terminal = Choice(header[1], kTerminals.size());
  while (at != std::string_view::npos) {
    const std::size_t start = at + 1;
    at = text.find('\n', start);
    const std::string_view line = text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start);
    if (line == "%%") {
      r.has_board = true;
      if (at != std::string_view::npos) r.board = std::string(text.substr(at + 1));
      break;
    }
    if (at == std::string_view::npos && line.empty()) break;  // the end of the last line
    if (r.args.size() == kMaxArgs) continue;
    std::string arg;
    for (const char c : line.substr(0, kMaxArgLength)) {
      if (c != '/' && c != '\0') arg += c;
    }
    r.args.push_back(std::move(arg));
  }
  return r;
}

// Makes sure the computer offers nothing but the virtual board here.
void CheckOnlyVirtualBoard() {
  std::string error;
  auto devices = tavrin::devices::SystemDevices::Create(tavrin::devices::Options{}, &error);
  Require(devices != nullptr, "no devices: " + error);
  std::uint32_t count = 0;
  Require(devices->Chip().FT_ListDevices(&count, tavrin::adapter::FT_LIST_NUMBER_ONLY) == tavrin::adapter::FT_OK &&
              count == 1,
          "a device besides the virtual board is listed");
  std::array<char, tavrin::adapter::kDescriptionBufferSize> name{};
  Require(devices->Chip().FT_ListDevices(0, name.data(), name.size(),
                                         tavrin::adapter::FT_LIST_BY_INDEX | tavrin::adapter::FT_OPEN_BY_DESCRIPTION) ==
                  tavrin::adapter::FT_OK &&
              std::string_view(name.data()) == tavrin::board::kVirtualDescription,
          "the only device is not the virtual board");
#ifdef TAVRIN_HAVE_FTDI
  Require(tavrin::adapter::ftdi::g_empty_bus_made, "the real-adapter backend did not get the empty bus");
#endif
}

}  // namespace

// libFuzzer writes a crashing input to its working directory unless told
// otherwise; runs happen in the private folder, which is removed, so the
// folder the fuzzer was started in is named here.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static std::vector<std::string> extra;
  static std::vector<char*> args;
  bool named = false;
  for (int i = 1; i < *argc; ++i) {
    const std::string_view a((*argv)[i]);
    if (a.rfind("-artifact_prefix=", 0) == 0 || a.rfind("-exact_artifact_path=", 0) == 0) named = true;
  }
  std::error_code ec;
  const fs::path cwd = fs::current_path(ec);
  Require(!ec, "no working directory");
  if (!named) {
    extra.push_back("-artifact_prefix=" + (cwd / "").string());
    args.assign(*argv, *argv + *argc);
    args.push_back(extra.back().data());
    args.push_back(nullptr);
    *argc = static_cast<int>(args.size() - 1);
    *argv = args.data();
  }

  static Sandbox sandbox;
  sandbox.home = cwd.string();
  sandbox.folder = (fs::temp_directory_path(ec) / ("tavrin-cli-fuzz-" + std::to_string(::getpid()))).string();
  fs::remove_all(sandbox.folder, ec);
  Require(fs::create_directory(sandbox.folder, ec) && !ec, "cannot make " + sandbox.folder);
  sandbox.out = std::tmpfile();
  sandbox.err = std::tmpfile();
  sandbox.terminal = std::tmpfile();
  Require(sandbox.out != nullptr && sandbox.err != nullptr && sandbox.terminal != nullptr, "no temporary files");
  g_sandbox = &sandbox;
  std::atexit(RemoveSandbox);
  CheckOnlyVirtualBoard();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Sandbox& box = *g_sandbox;
  const Request request = ParseInput(std::string_view(reinterpret_cast<const char*>(data), size));

  ClearFolder(box.folder);
  WriteFile(box.folder + "/t.svf", kSvfFiles[request.svf]);
  WriteFile(box.folder + "/b.json",
            request.has_board ? std::string_view(request.board) : tavrin::board::DefaultBoardJson());
  Rewind(box.out);
  Rewind(box.err);
  Rewind(box.terminal);
  const std::string_view answers = kTerminals[request.terminal];
  Require(std::fwrite(answers.data(), 1, answers.size(), box.terminal) == answers.size(), "cannot write answers");
  std::rewind(box.terminal);

  std::vector<const char*> argv{"tavrin-play"};
  for (const auto& a : request.args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  // PlayMain makes Ctrl-C its Break; afterwards Ctrl-C stops the fuzzer again.
  struct sigaction before {};
  sigaction(SIGINT, nullptr, &before);
  Require(::chdir(box.folder.c_str()) == 0, "cannot enter " + box.folder);
  const int status =
      tavrin::cli::PlayMain(static_cast<int>(argv.size() - 1), argv.data(), box.out, box.err, box.terminal);
  Require(::chdir(box.home.c_str()) == 0, "cannot go back to " + box.home);
  sigaction(SIGINT, &before, nullptr);

  Require(status >= 0 && status <= 2, "exit status " + std::to_string(status));
  if (status == 2) Require(!Contents(box.err).empty(), "refused without a word on standard error");
  return 0;
}
