// SPDX-License-Identifier: Apache-2.0

#pragma once
#include <functional>
#include <string>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
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
// case, with or without a dot before them; or, once a pattern is typed, the
// files that match it.
class FileList final : public QListWidget {
 public:
  explicit FileList(QWidget* parent = nullptr);

  // The names shown: a pattern with * and ? ([...] too), in any letter case;
  // "*.svf" (or nothing) is the names that Matches.
  void SetPattern(const QString& pattern);
  [[nodiscard]] QString Pattern() const { return pattern_; }
  // Selects the listed file of that name; false when it is not listed.
  bool Select(const QString& name);

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
  [[nodiscard]] bool Shows(const QString& name) const;
  QString path_;
  QString pattern_ = QStringLiteral("*.svf");
  QRegularExpression wildcard_;  // of any pattern but the usual one
};

// The three lists and the path box, kept in step. A click in the lists
// writes the box; a text typed into the box (Enter, or before a run) moves
// the lists: a file is chosen in its folder, a folder is opened, a pattern
// (with * or ?) filters the file list. The hint beside the box says at once
// when the typed path does not exist.
class FileChooser {
 public:
  FileChooser(DriveList& drive, FolderList& dir, FileList& file, QLineEdit& path_box, QLabel& hint);

  void Drive1_Change();
  void Dir1_Change();
  void File1_Click();

  // What the box's text names, relative paths taken in the folder shown.
  enum class Typed { Nothing, File, Folder, Pattern, Missing };
  [[nodiscard]] Typed Classify(QString* absolute = nullptr) const;
  // The lists follow the box, as Enter does; the box then holds the
  // absolute path.
  Typed Apply();
  // The bare name of the file the box names (typed, or written by a click);
  // empty for a folder, a pattern or nothing.
  [[nodiscard]] QString FileName() const;

  static constexpr const char* kMissingHint = "does not exist";

 private:
  void ShowHint();

  DriveList& drive_;
  FolderList& dir_;
  FileList& file_;
  QLineEdit& path_box_;
  QLabel& hint_;
  int last_good_drive_ = 0;
};

}  // namespace tavrin::ui
