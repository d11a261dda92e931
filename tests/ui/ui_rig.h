// SPDX-License-Identifier: Apache-2.0

#pragma once
// The window on the scriptable fake chip with a simulated clock; message
// boxes are recorded instead of shown.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QDir>
#include <QFile>
#include <QObject>
#include <QString>
#include <QWidget>

#include "adapter/fake/fake_d2xx.h"
#include "common/clock.h"
#include "ui/main_window.h"

namespace tavrin::ui::testing {

struct UiRig {
  adapter::FakeD2xx chip;
  FakeClock clock;
  std::unique_ptr<MainWindow> window;
  std::vector<std::string> messages;
  // Whether the window was on screen when each message came.
  std::vector<bool> shown_at_message;

  UiRig() : UiRig(nullptr) {}
  // The window on another chip (which must outlive the rig).
  explicit UiRig(adapter::D2xx* other) {
    window = std::make_unique<MainWindow>(other != nullptr ? *other : chip, clock);
    window->message_hook = [this](std::string_view text) {
      messages.emplace_back(text);
      shown_at_message.push_back(window->isVisible());
    };
  }

  // Every byte is answered with TDO at the level of the TDI bit in it (the
  // default pins: TDI on D5, TDO on D6).
  void LoopTdiToTdo() {
    chip.answer_fn = [](std::uint8_t b) -> std::uint8_t { return (b & 0x20U) != 0 ? 0x40U : 0x00U; };
  }

  template <typename W>
  W* Get(const char* name) const {
    return window->findChild<W*>(QString::fromLatin1(name));
  }

  player::Player& Core() const { return window->Core(); }
};

// Writes a file (binary, as given).
inline bool WriteFile(const QString& path, const std::string& text) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  return f.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
}

// The test suites, run by name from the one test program.
std::unique_ptr<QObject> MakeWindowTest();
std::unique_ptr<QObject> MakeChooserTest();
std::unique_ptr<QObject> MakeLogTest();
std::unique_ptr<QObject> MakeRunTest();

}  // namespace tavrin::ui::testing
