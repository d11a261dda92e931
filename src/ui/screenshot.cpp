// SPDX-License-Identifier: Apache-2.0

#include "ui/screenshot.h"

#include <cstdio>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>

#include "ui/file_chooser.h"
#include "ui/main_window.h"

namespace tavrin::ui {

namespace {

template <typename W>
W* Control(MainWindow& window, const char* name) {
  return window.findChild<W*>(QString::fromLatin1(name));
}

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

}  // namespace

bool PlayForScreenshot(MainWindow& window, const QString& svf, const QString& png, std::string* error) {
  auto fail = [error](const std::string& why) {
    if (error != nullptr) *error = why;
    return false;
  };
  window.message_hook = [](std::string_view text) {
    std::fprintf(stderr, "tavrin: %.*s\n", static_cast<int>(text.size()), text.data());
  };
  window.Load();
  window.show();
  Settle();

  auto* interfaces = Control<QComboBox>(window, "cmb_Interfaces");
  auto* open = Control<QPushButton>(window, "cmd_OpenInterface");
  auto* setup = Control<QPushButton>(window, "cmd_FTSetup");
  if (interfaces == nullptr || open == nullptr || setup == nullptr) return fail("the window lacks its controls");
  if (interfaces->count() > 0) window.SelectInterfaceEntry(interfaces->count() - 1);
  open->click();
  setup->click();

  if (!svf.isEmpty()) {
    const QFileInfo file(svf);
    if (!file.isFile()) return fail("no such file: " + svf.toStdString());
    auto* dir = Control<FolderList>(window, "Dir1");
    auto* files = Control<FileList>(window, "File1");
    auto* single_step = Control<QCheckBox>(window, "chk_SingleStep");
    auto* process = Control<QPushButton>(window, "cmd_Process");
    if (dir == nullptr || files == nullptr || single_step == nullptr || process == nullptr) {
      return fail("the window lacks its controls");
    }
    if (!dir->SetPath(file.absolutePath())) return fail("cannot list " + file.absolutePath().toStdString());
    const QList<QListWidgetItem*> found = files->findItems(file.fileName(), Qt::MatchExactly);
    if (found.isEmpty()) return fail("the file list does not offer " + file.fileName().toStdString());
    files->setCurrentItem(found.front());
    single_step->setChecked(false);
    process->click();
  }
  Settle();
  if (!window.grab().save(png)) return fail("cannot write " + png.toStdString());
  return true;
}

}  // namespace tavrin::ui
