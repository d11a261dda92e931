// The operator's window.
//
//   tavrin [--board FILE.json]
//   tavrin [--board FILE.json] --screenshot FILE.png [--play FILE.svf]
//
// Other arguments are left alone (Qt's own, such as -platform, are taken by
// QApplication).
#include <cstdio>
#include <string>

#include <QApplication>
#include <QStringList>

#include "common/clock.h"
#include "devices/system_devices.h"
#include "ui/main_window.h"
#include "ui/screenshot.h"

namespace {

// The value of --name VALUE or --name=VALUE; empty when not given.
QString OptionValue(const QStringList& args, const QString& name) {
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == name && i + 1 < args.size()) return args[i + 1];
    if (args[i].startsWith(name + QLatin1Char('='))) return args[i].mid(name.size() + 1);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Tavrin"));
  const QStringList args = QApplication::arguments();

  tavrin::devices::Options options;
  options.board_file = OptionValue(args, QStringLiteral("--board")).toStdString();
  std::string error;
  auto devices = tavrin::devices::SystemDevices::Create(options, &error);
  if (!devices) {
    std::fprintf(stderr, "tavrin: %s\n", error.c_str());
    return 2;
  }

  tavrin::SystemClock clock;
  tavrin::ui::MainWindow window(devices->Chip(), clock);

  const QString screenshot = OptionValue(args, QStringLiteral("--screenshot"));
  if (!screenshot.isEmpty()) {
    if (!tavrin::ui::PlayForScreenshot(window, OptionValue(args, QStringLiteral("--play")), screenshot, &error)) {
      std::fprintf(stderr, "tavrin: %s\n", error.c_str());
      return 1;
    }
    window.close();  // Form_Unload: the adapter is shut down
    return 0;
  }

  window.Load();  // its message boxes may come before the window
  window.show();
  return QApplication::exec();
}
