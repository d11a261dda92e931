// SPDX-License-Identifier: Apache-2.0
// One program for the window's test suites; "ui_tests NAME" runs one of
// them (window, chooser, log, run), with no name all of them. Further
// arguments go to Qt Test.
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <QApplication>
#include <QStringList>
#include <QTest>

#include "ui_rig.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using namespace tavrin::ui::testing;
  const std::vector<std::pair<const char*, std::function<std::unique_ptr<QObject>()>>> suites = {
      {"window", MakeWindowTest}, {"chooser", MakeChooserTest}, {"log", MakeLogTest}, {"run", MakeRunTest}};

  QStringList args = QApplication::arguments();
  QString only;
  if (args.size() > 1 && !args[1].startsWith(QLatin1Char('-'))) only = args.takeAt(1);
  bool known = only.isEmpty();
  int failed = 0;
  for (const auto& [name, make] : suites) {
    if (!only.isEmpty() && only != QLatin1String(name)) continue;
    known = true;
    const std::unique_ptr<QObject> suite = make();
    failed += QTest::qExec(suite.get(), args);
  }
  if (!known) {
    qWarning("no test suite named %s", qPrintable(only));
    return 2;
  }
  return failed == 0 ? 0 : 1;
}
