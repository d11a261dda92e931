// SPDX-License-Identifier: Apache-2.0
// Times one long scan (an SDR of N bits, default 1,000,000, or many short
// ones with "many:N", through the fake
// chip with a simulated clock) played in the window and with the window in
// memory, and prints both times and their ratio. Not a test: run it by hand,
// on an otherwise idle machine.
//
//   QT_QPA_PLATFORM=offscreen ui_scan_timing [BITS | many:N | file:PATH] [ROUNDS] [window|memory]
//
// "file:PATH" plays that file (an .svf); with "window" or "memory", under
// /usr/bin/time, it gives the peak memory of either face.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QTemporaryDir>

#include "adapter/fake/fake_d2xx.h"
#include "common/clock.h"
#include "common/memory_window.h"
#include "player/player.h"
#include "ui/file_chooser.h"
#include "ui/main_window.h"

namespace {

using Seconds = std::chrono::duration<double>;

// Processor time of this thread, in seconds: steadier than the wall clock
// on a machine that runs other work.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

std::uint8_t Loop(std::uint8_t b) { return (b & 0x20U) != 0 ? 0x40U : 0x00U; }

void Quiet(tavrin::adapter::FakeD2xx& chip) {
  chip.record_calls = false;
  chip.record_bytes = false;
  chip.answer_fn = Loop;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // "BITS" times one SDR of that many bits; "many:N" times N statements of
  // 32 bits each (a file of many short lines).
  const std::string what = argc > 1 ? argv[1] : "1000000";
  const bool given = what.rfind("file:", 0) == 0;
  const bool many = what.rfind("many:", 0) == 0;
  const long bits = given ? 4 : std::strtol(what.c_str() + (many ? 5 : 0), nullptr, 10);
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  // A third argument "window" or "memory" plays only that one (for a profiler).
  const std::string only = argc > 3 ? argv[3] : "";
  if (bits <= 0 || (!many && bits % 4 != 0) || rounds <= 0) {
    std::fprintf(stderr, "usage: ui_scan_timing [BITS (a multiple of 4) | many:STATEMENTS] [ROUNDS]\n");
    return 2;
  }
  std::string text;
  if (given) {
  } else if (many) {
    for (long i = 0; i < bits; ++i) text += "SDR 32 TDI (12345678) TDO (12345678) MASK (FFFFFFFF);\r\n";
  } else {
    const std::string digits(static_cast<std::size_t>(bits / 4), 'A');
    text = "SDR " + std::to_string(bits) + " TDI (" + digits + ") TDO (" + digits + ") MASK (" +
           std::string(digits.size(), 'F') + ");\r\n";
  }
  QTemporaryDir dir;
  const QString path = QDir::cleanPath(dir.path()) + QStringLiteral("/long.svf");
  if (given) {
    if (!QFile::link(QString::fromStdString(what.substr(5)), path)) return 1;
  }
  QFile f(path);
  if (!given && (!f.open(QIODevice::WriteOnly) || f.write(text.data(), static_cast<qint64>(text.size())) < 0)) return 1;
  f.close();

  std::vector<double> memory_times;
  std::vector<double> window_times;
  std::vector<double> memory_cpu;
  std::vector<double> window_cpu;
  std::string memory_log;
  std::string window_log;
  for (int r = 0; r < rounds; ++r) {
    if (only != "window") {
      tavrin::MemoryWindow memory;
      tavrin::adapter::FakeD2xx chip;
      Quiet(chip);
      tavrin::FakeClock clock;
      tavrin::player::Player player(memory, chip, clock);
      player.Form_Load();
      memory.selected_file = "long.svf";
      memory.file_path = path.toStdString();
      memory.single_step = 0;
      const double cpu = CpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      player.cmd_Process_Click();
      memory_times.push_back(Seconds(std::chrono::steady_clock::now() - start).count());
      memory_cpu.push_back(CpuSeconds() - cpu);
      memory_log = memory.log;
    }
    if (only != "memory") {
      tavrin::adapter::FakeD2xx chip;
      Quiet(chip);
      tavrin::FakeClock clock;
      tavrin::ui::MainWindow window(chip, clock);
      window.message_hook = [](std::string_view m) { std::fprintf(stderr, "%.*s\n", int(m.size()), m.data()); };
      window.show();
      window.SetDirPath(QDir::cleanPath(dir.path()).toStdString());
      auto* files = window.findChild<tavrin::ui::FileList*>(QStringLiteral("File1"));
      files->setCurrentRow(0);
      window.findChild<QCheckBox*>(QStringLiteral("chk_SingleStep"))->setChecked(false);
      for (int i = 0; i < 5; ++i) QApplication::processEvents();
      const double cpu = CpuSeconds();
      const auto start = std::chrono::steady_clock::now();
      window.Core().cmd_Process_Click();
      QApplication::processEvents();  // and the window drawn with its result
      window_times.push_back(Seconds(std::chrono::steady_clock::now() - start).count());
      window_cpu.push_back(CpuSeconds() - cpu);
      window_log = window.LogText();
      std::printf("round %d: window %.3f s, %lld event passes\n", r + 1, window_times.back(), window.EventPasses());
    }
  }
  if (!only.empty()) return 0;
  const double m = Median(memory_times);
  const double w = Median(window_times);
  std::printf("%s: window in memory %.3f s, Qt window %.3f s (medians of %d): ratio %.2f\n", what.c_str(), m, w,
              rounds, w / m);
  const double mc = Median(memory_cpu);
  const double wc = Median(window_cpu);
  std::printf("processor time: window in memory %.3f s, Qt window %.3f s: ratio %.2f\n", mc, wc, wc / mc);
  if (memory_log != window_log) {
    std::printf("the logs differ\n");
    return 1;
  }
  return 0;
}
