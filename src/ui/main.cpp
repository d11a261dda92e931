// SPDX-License-Identifier: Apache-2.0
// The operator's window.
//
//   tavrin [--board FILE.json] [FILE.svf]
//   tavrin [--board FILE.json] --screenshot FILE.png [--play FILE.svf]
//   tavrin --help | --version
//
// --help and --version are answered before Qt starts, so they work without a
// display. Other arguments are left alone (Qt's own, such as -platform, are
// taken by QApplication).
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include <QApplication>
#include <QSettings>
#include <QStringList>

#include "common/clock.h"
#include "board/models/catalogue.h"
#include "devices/system_devices.h"
#include "jtag/parts.h"
#include "ui/main_window.h"
#include "ui/screenshot.h"

#ifndef TAVRIN_VERSION
#define TAVRIN_VERSION "unknown"
#endif

namespace {

constexpr const char* kHelpText =
    "Usage: tavrin [OPTIONS] [QT OPTIONS] [FILE.svf]\n"
    "The operator's window: plays SVF files into a JTAG target through an FT232R or FT232B\n"
    "adapter in bit-bang mode, or into the built-in virtual board.\n"
    "\n"
    "Options:\n"
    "  --board FILE.json      the virtual board's description (default: the built-in board)\n"
    "  --part NAME            the virtual board holds a model of this part, to rehearse its\n"
    "                         vendor files (tavrin-play --list-parts lists them)\n"
    "  --blank                the modelled part starts blank, not holding another design\n"
    "  --board-state FILE     keep the modelled parts' flash in this file between runs\n"
    "  --screenshot FILE.png  start up, open and set up the last adapter listed (the virtual\n"
    "                         board), play the file of --play with Single Step unticked,\n"
    "                         save the window as a PNG and exit\n"
    "  --play FILE.svf        the file --screenshot plays (none: the picture after set-up)\n"
    "  -h, --help             print this help and exit\n"
    "  --version              print the version and exit\n"
    "\n"
    "FILE.svf is chosen in the file lists at start-up, with its folder shown.\n"
    "An option's value follows it as the next argument or after '=' (--board=FILE.json).\n"
    "Qt's own options (-platform NAME, -style NAME, ...) go to Qt.\n"
    "\n"
    "Exit status: 0 when the window is closed or the picture saved; 1 when --screenshot\n"
    "fails; 2 when the board description cannot be used.\n";

enum class Early { kNone, kHelp, kVersion };

// --help or --version anywhere but as the value of an option.
Early EarlyRequest(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    if (arg == "--help" || arg == "-h") return Early::kHelp;
    if (arg == "--version") return Early::kVersion;
    if (arg == "--board" || arg == "--screenshot" || arg == "--play" || arg == "--part" || arg == "--board-state") {
      ++i;  // its value
    }
  }
  return Early::kNone;
}

// The value of --name VALUE or --name=VALUE; empty when not given.
QString OptionValue(const QStringList& args, const QString& name) {
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == name && i + 1 < args.size()) return args[i + 1];
    if (args[i].startsWith(name + QLatin1Char('='))) return args[i].mid(name.size() + 1);
  }
  return {};
}

// The first argument that is neither an option nor an option's value: the
// file to choose at start-up.
QString FileArgument(const QStringList& args) {
  for (qsizetype i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    if (arg == QLatin1String("--board") || arg == QLatin1String("--screenshot") || arg == QLatin1String("--play") ||
        arg == QLatin1String("--part") || arg == QLatin1String("--board-state")) {
      ++i;  // its value
    } else if (!arg.startsWith(QLatin1Char('-'))) {
      return arg;
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  switch (EarlyRequest(argc, argv)) {
    case Early::kHelp: return std::fputs(kHelpText, stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    case Early::kVersion: return std::printf("tavrin %s\n", TAVRIN_VERSION) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    case Early::kNone: break;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavrin"));
  QApplication::setOrganizationName(QStringLiteral("Tavrin"));
  const QStringList args = QApplication::arguments();

  tavrin::SystemClock clock;
  tavrin::devices::Options options;
  options.board_file = OptionValue(args, QStringLiteral("--board")).toStdString();
  options.board_state_file = OptionValue(args, QStringLiteral("--board-state")).toStdString();
  options.clock = &clock;
  const std::string part = OptionValue(args, QStringLiteral("--part")).toStdString();
  const bool blank = args.contains(QStringLiteral("--blank"));
  if (!part.empty()) {
    const tavrin::jtag::KnownPart* known = tavrin::jtag::PartNamed(part);
    if (known == nullptr || !tavrin::board::IsModelled(*known) || !options.board_file.empty()) {
      std::fprintf(stderr, "tavrin: --part %s: %s\n", part.c_str(),
                   options.board_file.empty() ? "no modelled part has that name (tavrin-play --list-parts)"
                                              : "a --board names its parts itself");
      return 2;
    }
    tavrin::board::ModelChoice choice;
    choice.part = known->name;
    choice.blank = blank;
    options.board = tavrin::board::BoardSpec{};
    options.board->chain.push_back(tavrin::board::ModelledDevice(choice));
    options.board_name = std::string(known->name) + (blank ? ", blank" : ", holding another design");
  } else if (blank) {
    std::fputs("tavrin: --blank applies to a modelled part (--part)\n", stderr);
    return 2;
  }
  std::string error;
  auto devices = tavrin::devices::SystemDevices::Create(options, &error);
  if (!devices) {
    std::fprintf(stderr, "tavrin: %s\n", error.c_str());
    return 2;
  }

  tavrin::ui::MainWindow window(devices->Chip(), clock);
  window.rehearsal_hook = [&devices](std::size_t* refusals, std::string* state_error) {
    std::vector<std::string> report;
    *state_error = devices->EndRehearsal(&report, refusals);
    return report;
  };

  const QString screenshot = OptionValue(args, QStringLiteral("--screenshot"));
  if (!screenshot.isEmpty()) {
    if (!tavrin::ui::PlayForScreenshot(window, OptionValue(args, QStringLiteral("--play")), screenshot, &error)) {
      std::fprintf(stderr, "tavrin: %s\n", error.c_str());
      return 1;
    }
    window.close();  // Form_Unload: the adapter is shut down
    return 0;
  }

  window.UseSettings(std::make_unique<QSettings>());  // ~/.config/Tavrin/Tavrin.conf
  window.Load();  // its message boxes may come before the window
  const QString file = FileArgument(args);
  if (!file.isEmpty() && !window.ChooseFile(file.toStdString())) {
    std::fprintf(stderr, "tavrin: %s: no such file to choose\n", file.toLocal8Bit().constData());
  }
  window.show();
  return QApplication::exec();
}
