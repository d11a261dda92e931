// SPDX-License-Identifier: Apache-2.0

#include "ui/file_chooser.h"

#include <algorithm>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>

namespace tavrin::ui {

namespace {

constexpr int kPathRole = Qt::UserRole;

bool IsUnder(const QString& path, const QString& folder) {
  return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Kernel, device and runtime file systems, and the places where the system
// keeps its own mounts: nothing an SVF file is picked from.
bool IsSystemMount(const QStorageInfo& volume) {
  static const QList<QByteArray> kPseudo = {
      "proc",  "sysfs",    "devtmpfs",  "devpts",    "cgroup",      "cgroup2", "securityfs", "debugfs",
      "tracefs", "pstore", "bpf",       "mqueue",    "hugetlbfs",   "configfs", "fusectl",   "autofs",
      "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs", "ramfs",     "squashfs", "overlay",   "fuse.portal",
      "fuse.gvfsd-fuse"};
  const QString root = volume.rootPath();
  const QByteArray type = volume.fileSystemType();
  if (kPseudo.contains(type) && root != QLatin1String("/")) return true;
  if (type == "tmpfs" && root != QLatin1String("/tmp")) return true;
  if (root.startsWith(QLatin1String("/run/media/"))) return false;
  for (const char* folder : {"/proc", "/sys", "/dev", "/run", "/snap", "/var/snap", "/var/lib", "/boot/efi"}) {
    if (IsUnder(root, QLatin1String(folder))) return true;
  }
  return false;
}

// A name with * or ? (or [...]) in it: a pattern, never a file's name.
bool IsPattern(const QString& name) {
  static const QRegularExpression kWildcard(QStringLiteral("[*?\\[]"));
  return name.contains(kWildcard);
}

}  // namespace

// --- Drive1 ---

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  addItems(MountRoots());
  const int here = findText(QStorageInfo(QDir::currentPath()).rootPath());
  setCurrentIndex(here >= 0 ? here : 0);
}

QStringList DriveList::MountRoots() {
  QStringList others;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (!volume.isValid() || !volume.isReady() || IsSystemMount(volume)) continue;
    const QString root = volume.rootPath();
    if (root == QLatin1String("/") || others.contains(root)) continue;
    if (!QFileInfo(root).isDir()) continue;  // a single file bound over another
    others.append(root);
  }
  std::sort(others.begin(), others.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  others.prepend(QStringLiteral("/"));
  return others;
}

void DriveList::Reload() {
  const QSignalBlocker block(this);
  const QString chosen = currentText();
  clear();
  addItems(MountRoots());
  const int again = findText(chosen);
  setCurrentIndex(again >= 0 ? again : 0);
}

// --- Dir1 ---

FolderList::FolderList(QWidget* parent) : QListWidget(parent), path_(Normalise(QDir::currentPath())) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
    if (item != nullptr) OpenRow(row(item));
  });
  if (!CanOpen(path_)) path_ = QStringLiteral("/");
  Fill();
}

QString FolderList::Normalise(const QString& path) {
  return QDir::cleanPath(QDir::current().absoluteFilePath(path.isEmpty() ? QStringLiteral(".") : path));
}

bool FolderList::CanOpen(const QString& path) {
  const QFileInfo info(path);
  return info.isDir() && info.isReadable() && info.isExecutable();
}

bool FolderList::SetPath(const QString& path) {
  const QString wanted = Normalise(path);
  if (!CanOpen(wanted)) return false;
  const bool changed = wanted != path_;
  path_ = wanted;
  Fill();
  if (changed && on_change) on_change();
  return true;
}

void FolderList::Refresh() {
  QString p = path_;
  while (!CanOpen(p) && p != QLatin1String("/")) p = Normalise(p + QStringLiteral("/.."));
  if (p == path_ || !SetPath(p)) Fill();
}

void FolderList::OpenRow(int r) {
  const QListWidgetItem* entry = item(r);
  if (entry == nullptr) return;
  const QString target = entry->data(kPathRole).toString();
  if (!SetPath(target)) {
    // Gone or shut in the meantime: show what is there now and stay.
    QApplication::beep();
    Refresh();
  }
}

QStringList FolderList::EntryPaths() const {
  QStringList paths;
  for (int r = 0; r < count(); ++r) paths.append(item(r)->data(kPathRole).toString());
  return paths;
}

void FolderList::Fill() {
  const QSignalBlocker block(this);
  clear();
  const QIcon open_icon = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed_icon = style()->standardIcon(QStyle::SP_DirClosedIcon);
  auto add = [this](const QString& name, const QString& full, int depth, const QIcon& icon) {
    auto* entry = new QListWidgetItem(icon, QString(depth * 2, QLatin1Char(' ')) + name, this);
    entry->setData(kPathRole, full);
    entry->setToolTip(full);
    return entry;
  };

  // The chosen folder and its ancestors, the root first.
  QListWidgetItem* chosen = add(QStringLiteral("/"), QStringLiteral("/"), 0, open_icon);
  int depth = 0;
  QString full;
  for (const QString& part : path_.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    full += QLatin1Char('/') + part;
    chosen = add(part, full, ++depth, open_icon);
  }
  // Its subfolders, one step further in.
  const QDir dir(path_);
  const QStringList subfolders =
      dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  for (const QString& sub : subfolders) add(sub, dir.absoluteFilePath(sub), depth + 1, closed_icon);

  setCurrentItem(chosen);
  chosen->setSelected(true);
  scrollToItem(chosen);
}

// --- File1 ---

FileList::FileList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    if (!selectedItems().isEmpty() && on_click) on_click();
  });
}

bool FileList::Matches(const QString& name) { return name.endsWith(QLatin1String("svf"), Qt::CaseInsensitive); }

bool FileList::Shows(const QString& name) const {
  return pattern_ == QLatin1String("*.svf") ? Matches(name) : wildcard_.match(name).hasMatch();
}

void FileList::SetPattern(const QString& pattern) {
  const bool usual = pattern.isEmpty() || pattern.compare(QLatin1String("*.svf"), Qt::CaseInsensitive) == 0;
  pattern_ = usual ? QStringLiteral("*.svf") : pattern;
  if (!usual) {
    wildcard_ = QRegularExpression(QRegularExpression::wildcardToRegularExpression(pattern),
                                   QRegularExpression::CaseInsensitiveOption);
  }
  SetPath(path_);
}

bool FileList::Select(const QString& name) {
  const QList<QListWidgetItem*> found = findItems(name, Qt::MatchExactly);
  if (found.isEmpty()) return false;
  setCurrentItem(found.front());
  return true;
}

void FileList::SetPath(const QString& path) {
  const QSignalBlocker block(this);
  path_ = path;
  clear();
  const QStringList names = QDir(path).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
  for (const QString& name : names) {
    if (Shows(name)) addItem(name);
  }
  clearSelection();
  setCurrentItem(nullptr);
}

QString FileList::FileName() const {
  const QList<QListWidgetItem*> chosen = selectedItems();
  return chosen.isEmpty() ? QString() : chosen.front()->text();
}

QStringList FileList::Names() const {
  QStringList names;
  for (int r = 0; r < count(); ++r) names.append(item(r)->text());
  return names;
}

// --- The three together ---

FileChooser::FileChooser(DriveList& drive, FolderList& dir, FileList& file, QLineEdit& path_box, QLabel& hint)
    : drive_(drive),
      dir_(dir),
      file_(file),
      path_box_(path_box),
      hint_(hint),
      last_good_drive_(drive.currentIndex()) {
  QObject::connect(&drive_, &QComboBox::currentIndexChanged, &drive_, [this](int) { Drive1_Change(); });
  dir_.on_change = [this] { Dir1_Change(); };
  file_.on_click = [this] { File1_Click(); };
  // Typing makes the box the file that plays: the list's highlight goes.
  QObject::connect(&path_box_, &QLineEdit::textEdited, &path_box_, [this] { file_.clearSelection(); });
  QObject::connect(&path_box_, &QLineEdit::textChanged, &path_box_, [this] { ShowHint(); });
  QObject::connect(&path_box_, &QLineEdit::returnPressed, &path_box_, [this] { (void)Apply(); });
  file_.SetPath(dir_.Path());
  ShowHint();
}

void FileChooser::Drive1_Change() {
  if (drive_.currentIndex() < 0) return;
  if (dir_.SetPath(drive_.Drive())) {
    last_good_drive_ = drive_.currentIndex();
    return;
  }
  // A root that cannot be listed (unmounted since): offer the roots there
  // are now and go back to the one the folder list is on.
  const QString last_good = drive_.itemText(last_good_drive_);
  drive_.Reload();
  const QSignalBlocker block(drive_);
  const int again = drive_.findText(last_good);
  drive_.setCurrentIndex(again >= 0 ? again : 0);
  last_good_drive_ = drive_.currentIndex();
  QApplication::beep();
}

void FileChooser::Dir1_Change() {
  file_.SetPath(dir_.Path());
  path_box_.setText(dir_.Path() + QLatin1Char('/') + file_.Pattern());
}

void FileChooser::File1_Click() { path_box_.setText(dir_.Path() + QLatin1Char('/') + file_.FileName()); }

FileChooser::Typed FileChooser::Classify(QString* absolute) const {
  const QString text = path_box_.text();
  if (text.trimmed().isEmpty()) return Typed::Nothing;
  const QString full = QDir::cleanPath(QDir(dir_.Path()).absoluteFilePath(text));
  if (absolute != nullptr) *absolute = full;
  const QFileInfo info(full);
  if (IsPattern(info.fileName())) {
    return FolderList::CanOpen(info.absolutePath()) ? Typed::Pattern : Typed::Missing;
  }
  if (info.isDir()) return Typed::Folder;
  return info.exists() ? Typed::File : Typed::Missing;
}

FileChooser::Typed FileChooser::Apply() {
  QString full;
  const Typed typed = Classify(&full);
  const QFileInfo info(full);
  switch (typed) {
    case Typed::Nothing:
    case Typed::Missing:
      file_.clearSelection();
      return typed;
    case Typed::Pattern:
      file_.SetPattern(info.fileName());
      if (!dir_.SetPath(info.absolutePath())) return Typed::Missing;
      Dir1_Change();  // the same folder: listed afresh, and the text made whole
      return typed;
    case Typed::Folder:
      if (!dir_.SetPath(full)) return Typed::Missing;
      Dir1_Change();
      return typed;
    case Typed::File:
      if (dir_.SetPath(info.absolutePath())) file_.SetPath(dir_.Path());
      // A file the pattern hides is shown again among the usual ones.
      if (!file_.Select(info.fileName()) && file_.Pattern() != QLatin1String("*.svf")) {
        file_.SetPattern(QString());
        (void)file_.Select(info.fileName());
      }
      path_box_.setText(full);  // the file that plays, whether the list shows it or not
      return typed;
  }
  return typed;
}

QString FileChooser::FileName() const {
  QString full;
  const Typed typed = Classify(&full);
  const QString name = QFileInfo(full).fileName();
  return typed == Typed::File || (typed == Typed::Missing && !IsPattern(name)) ? name : QString();
}

void FileChooser::ShowHint() {
  hint_.setText(Classify() == Typed::Missing ? QString::fromLatin1(kMissingHint) : QString());
}

}  // namespace tavrin::ui
