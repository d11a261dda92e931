// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <functional>
#include <string>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QString>
#include <QStringList>

namespace tavrin::ui {

// Drive1: the roots of the mounted file systems, "/" first.
class DriveList final : public QComboBox {
 public:
  explicit DriveList(QWidget* parent = nullptr);
  // The chosen root.
  [[nodiscard]] QString Drive() const { return currentText(); }
  // Lists the roots again, keeping the chosen one when it is still there.
  void Reload();

  // The roots of the mounted file systems worth offering: real, readable
  // folders; kernel and runtime file systems left out; "/" always first.
  static QStringList MountRoots();
};

// Dir1: a folder list. It shows the chosen folder with its ancestors, each
// under its parent, and below them the chosen folder's subfolders; opening
// an entry (double-click or Enter) makes that folder the chosen one.
class FolderList final : public QListWidget {
 public:
  explicit FolderList(QWidget* parent = nullptr);

  // The chosen folder, without a final separator except at the root "/".
  [[nodiscard]] QString Path() const { return path_; }
  // Chooses the folder; runs on_change when the chosen folder changes. A
  // folder that cannot be listed is not chosen: false, and the list stays
  // as it was.
  bool SetPath(const QString& path);
  // Lists the chosen folder again; when it has gone, chooses its nearest
  // ancestor that can be listed.
  void Refresh();

  // The full path of each entry, in list order.
  [[nodiscard]] QStringList EntryPaths() const;
  // Opens the entry at this row as the operator does.
  void OpenRow(int row);

  // Dir1_Change.
  std::function<void()> on_change;

  // "/a/b/" and "a/../b" alike become an absolute, clean path.
  static QString Normalise(const QString& path);
  // Whether the folder can be listed and entered.
  static bool CanOpen(const QString& path);

 private:
  void Fill();
  QString path_;
};

// File1: the files of one folder whose names end in "svf", in any letter
// case, with or without a dot before them.
class FileList final : public QListWidget {
 public:
  explicit FileList(QWidget* parent = nullptr);

  [[nodiscard]] QString Path() const { return path_; }
  // Lists the folder's files, with none selected.
  void SetPath(const QString& path);
  // The bare name of the selected file; empty while none is selected.
  [[nodiscard]] QString FileName() const;
  // The listed names, in order.
  [[nodiscard]] QStringList Names() const;

  // File1_Click: the selection has changed to a file.
  std::function<void()> on_click;

  static bool Matches(const QString& name);

 private:
  QString path_;
};

// The three lists and the path box, kept in step.
class FileChooser {
 public:
  FileChooser(DriveList& drive, FolderList& dir, FileList& file, QLineEdit& path_box);

  void Drive1_Change();
  void Dir1_Change();
  void File1_Click();

 private:
  DriveList& drive_;
  FolderList& dir_;
  FileList& file_;
  QLineEdit& path_box_;
  int last_good_drive_ = 0;
};

}  // namespace tavrin::ui
