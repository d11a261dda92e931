// SPDX-License-Identifier: Apache-2.0
// The drive, folder and file lists and the path box they keep in step.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>

#include "ui/file_chooser.h"
#include "ui_rig.h"

namespace tavrin::ui::testing {

namespace {

// root/{a.svf, B.SVF, boardsvf, c.xsvf, d.txt, .hidden.svf, Sub0/, sub1/, sub2/x.svf}
struct Tree {
  QTemporaryDir dir;
  QString root;
  bool ok = false;

  Tree() {
    if (!dir.isValid()) return;
    root = QDir::cleanPath(dir.path());
    QDir d(root);
    ok = d.mkpath(QStringLiteral("Sub0")) && d.mkpath(QStringLiteral("sub1")) && d.mkpath(QStringLiteral("sub2"));
    for (const char* f : {"a.svf", "B.SVF", "boardsvf", "c.xsvf", "d.txt", ".hidden.svf", "sub2/x.svf"}) {
      ok = ok && WriteFile(root + QLatin1Char('/') + QString::fromLatin1(f), "STATE RESET;\r\n");
    }
  }
};

// The list row of the folder with this full path, -1 when not listed.
int RowOf(const FolderList* dir, const QString& path) { return static_cast<int>(dir->EntryPaths().indexOf(path)); }

void DoubleClickRow(QListWidget* list, int row) {
  QListWidgetItem* entry = list->item(row);
  list->scrollToItem(entry);
  const QPoint at = list->visualItemRect(entry).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
}

int Indent(const QString& text) {
  int n = 0;
  while (n < text.size() && text[n] == QLatin1Char(' ')) ++n;
  return n;
}

void ClickRow(QListWidget* list, int row) {
  QListWidgetItem* entry = list->item(row);
  list->scrollToItem(entry);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(entry).center());
}

}  // namespace

class ChooserTest : public QObject {
  Q_OBJECT

 private:
  // A loaded, shown window whose chooser shows the tree's root.
  static void Open(UiRig& rig, const Tree& tree) {
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    QVERIFY(tree.ok);
    rig.window->SetDirPath(tree.root.toStdString());
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), tree.root);
  }

 private slots:
  void pattern_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("listed");
    QTest::newRow("board.svf") << "board.svf" << true;
    QTest::newRow("BOARD.SVF") << "BOARD.SVF" << true;
    QTest::newRow("mixed case") << "Board.SvF" << true;
    QTest::newRow("board.xsvf") << "board.xsvf" << true;
    QTest::newRow("no dot") << "boardsvf" << true;
    QTest::newRow("just svf") << "svf" << true;
    QTest::newRow("board.sv") << "board.sv" << false;
    QTest::newRow("svf inside") << "board.svf.bak" << false;
    QTest::newRow("board.txt") << "board.txt" << false;
  }
  void pattern() {
    QFETCH(QString, name);
    QFETCH(bool, listed);
    QCOMPARE(FileList::Matches(name), listed);
  }

  // The folder list shows the root, each ancestor under its parent and the
  // chosen folder, then its subfolders in name order.
  void folderListContents() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    const auto* dir = rig.Get<FolderList>("Dir1");
    QStringList expected{QStringLiteral("/")};
    QString full;
    for (const QString& part : tree.root.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
      full += QLatin1Char('/') + part;
      expected << full;
    }
    for (const char* sub : {"/Sub0", "/sub1", "/sub2"}) expected << tree.root + QString::fromLatin1(sub);
    QCOMPARE(dir->EntryPaths(), expected);
    const int chosen = RowOf(dir, tree.root);
    QCOMPARE(dir->currentRow(), chosen);
    QVERIFY(dir->item(chosen)->isSelected());
    // Each entry is further in than the one it lies in.
    QVERIFY(Indent(dir->item(chosen)->text()) > Indent(dir->item(chosen - 1)->text()));
    QCOMPARE(Indent(dir->item(chosen + 1)->text()), Indent(dir->item(chosen)->text()) + 2);
    QCOMPARE(Indent(dir->item(chosen + 1)->text()), Indent(dir->item(chosen + 3)->text()));
    QCOMPARE(dir->item(chosen + 1)->text().trimmed(), QStringLiteral("Sub0"));
  }

  // Folder shown: the file list follows, nothing selected, the pattern text.
  void folderShown() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    const auto* files = rig.Get<FileList>("File1");
    QCOMPARE(files->Path(), tree.root);
    QCOMPARE(files->Names(), (QStringList{"a.svf", "B.SVF", "boardsvf", "c.xsvf"}));
    QCOMPARE(files->FileName(), QString());
    QCOMPARE(rig.window->SelectedFileName(), std::string());
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), tree.root + QStringLiteral("/*.svf"));
  }

  // File chosen, by the mouse and by the keyboard; another folder returns to
  // Folder shown and clears the selection.
  void fileChosenThenFolderChanged() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    auto* files = rig.Get<FileList>("File1");
    auto* path = rig.Get<QLineEdit>("txt_filepath");
    ClickRow(files, 1);
    QCOMPARE(rig.window->SelectedFileName(), std::string("B.SVF"));
    QCOMPARE(path->text(), tree.root + QStringLiteral("/B.SVF"));
    QTest::keyClick(files, Qt::Key_Down);
    QCOMPARE(rig.window->SelectedFileName(), std::string("boardsvf"));
    QCOMPARE(path->text(), tree.root + QStringLiteral("/boardsvf"));

    auto* dir = rig.Get<FolderList>("Dir1");
    DoubleClickRow(dir, RowOf(dir, tree.root + QStringLiteral("/sub2")));
    QCOMPARE(dir->Path(), tree.root + QStringLiteral("/sub2"));
    QCOMPARE(files->Names(), QStringList{"x.svf"});
    QCOMPARE(files->FileName(), QString());
    QCOMPARE(path->text(), tree.root + QStringLiteral("/sub2/*.svf"));
    QCOMPARE(dir->EntryPaths().last(), tree.root + QStringLiteral("/sub2"));  // no subfolders

    // Enter on an ancestor moves up to it.
    dir->setCurrentRow(RowOf(dir, tree.root));
    QTest::keyClick(dir, Qt::Key_Return);
    QCOMPARE(dir->Path(), tree.root);
    QCOMPARE(path->text(), tree.root + QStringLiteral("/*.svf"));
    // Moving the highlight alone opens nothing.
    QTest::keyClick(dir, Qt::Key_Down);
    QCOMPARE(dir->Path(), tree.root);
  }

  // Text typed into the path box after a click in the file list: the
  // highlight goes at once and a path that does not exist is said at once;
  // Enter moves the lists: a file is chosen in its folder, a folder opened,
  // a pattern filters the file list. "@" stands for the tree's root.
  void typedText_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("folder");     // shown after Enter, under the root
    QTest::addColumn<QStringList>("names");  // the file list after Enter
    QTest::addColumn<QString>("selected");   // in the file list
    QTest::addColumn<QString>("chosen");     // the file a run would play
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("missing");
    const QStringList usual{"a.svf", "B.SVF", "boardsvf", "c.xsvf"};
    const auto row = [](const char* tag, const char* typed, const char* folder, const QStringList& names,
                        const char* selected, const char* chosen, const char* box, bool missing) {
      QTest::newRow(tag) << QString::fromLatin1(typed) << QString::fromLatin1(folder) << names
                         << QString::fromLatin1(selected) << QString::fromLatin1(chosen) << QString::fromLatin1(box)
                         << missing;
    };
    row("file in a subfolder", "sub2/x.svf", "/sub2", {"x.svf"}, "x.svf", "x.svf", "@/sub2/x.svf", false);
    row("absolute file", "@/B.SVF", "", usual, "B.SVF", "B.SVF", "@/B.SVF", false);
    row("file the list does not show", "d.txt", "", usual, "", "d.txt", "@/d.txt", false);
    row("folder", "sub2", "/sub2", {"x.svf"}, "", "", "@/sub2/*.svf", false);
    row("folder, unclean", "@/sub1/../sub2/", "/sub2", {"x.svf"}, "", "", "@/sub2/*.svf", false);
    row("pattern", "b*", "", {"B.SVF", "boardsvf"}, "", "", "@/b*", false);
    row("pattern in a folder", "sub2/*.SVF", "/sub2", {"x.svf"}, "", "", "@/sub2/*.svf", false);
    row("missing file", "none.svf", "", usual, "", "none.svf", "none.svf", true);
    row("pattern in a missing folder", "nowhere/*.svf", "", usual, "", "", "nowhere/*.svf", true);
  }
  void typedText() {
    QFETCH(QString, typed);
    QFETCH(QString, folder);
    QFETCH(QStringList, names);
    QFETCH(QString, selected);
    QFETCH(QString, chosen);
    QFETCH(QString, box);
    QFETCH(bool, missing);
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    auto* files = rig.Get<FileList>("File1");
    auto* path = rig.Get<QLineEdit>("txt_filepath");
    const auto* hint = rig.Get<QLabel>("lbl_PathHint");
    ClickRow(files, 0);
    QCOMPARE(rig.window->SelectedFileName(), std::string("a.svf"));
    path->selectAll();
    QTest::keyClicks(path, typed.replace(QLatin1Char('@'), tree.root));
    QCOMPARE(files->FileName(), QString());  // the highlight never plays instead
    QCOMPARE(hint->text(), missing ? QStringLiteral("does not exist") : QString());
    QTest::keyClick(path, Qt::Key_Return);
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), tree.root + folder);
    QCOMPARE(files->Names(), names);
    QCOMPARE(files->FileName(), selected);
    QCOMPARE(rig.window->SelectedFileName(), chosen.toStdString());
    QCOMPARE(path->text(), box.replace(QLatin1Char('@'), tree.root));
    QCOMPARE(hint->text().isEmpty(), !missing);
  }

  // The hint goes as soon as the text names something again; a pattern
  // stays when another folder is opened.
  void hintAndPatternFollowTheText() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    auto* path = rig.Get<QLineEdit>("txt_filepath");
    const auto* hint = rig.Get<QLabel>("lbl_PathHint");
    path->selectAll();
    QTest::keyClicks(path, QStringLiteral("a.sv"));
    QCOMPARE(hint->text(), QStringLiteral("does not exist"));
    QTest::keyClicks(path, QStringLiteral("f"));
    QCOMPARE(hint->text(), QString());
    path->selectAll();
    QTest::keyClicks(path, QStringLiteral("*.xsvf"));
    QTest::keyClick(path, Qt::Key_Return);
    QCOMPARE(rig.Get<FileList>("File1")->Names(), QStringList{"c.xsvf"});
    rig.window->SetDirPath((tree.root + QStringLiteral("/sub2")).toStdString());
    QCOMPARE(path->text(), tree.root + QStringLiteral("/sub2/*.xsvf"));
    QCOMPARE(rig.Get<FileList>("File1")->Names(), QStringList{});
  }

  // At the root the composed text has two separators in a row.
  void rootOfTheDrive() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    auto* drive = rig.Get<DriveList>("Drive1");
    QCOMPARE(drive->itemText(0), QStringLiteral("/"));
    // The operator chooses "/" (the toolkit reports a change of the list).
    drive->setCurrentIndex(0);
    emit drive->currentIndexChanged(0);
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), QStringLiteral("/"));
    QCOMPARE(rig.Get<FileList>("File1")->Path(), QStringLiteral("/"));
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), QStringLiteral("//*.svf"));
    QCOMPARE(rig.Get<FolderList>("Dir1")->EntryPaths().first(), QStringLiteral("/"));
    // A folder change leaves the drive list alone.
    rig.window->SetDirPath(tree.root.toStdString());
    QCOMPARE(drive->currentText(), QStringLiteral("/"));
  }

  void driveListOffersFolders() {
    const QStringList roots = DriveList::MountRoots();
    QVERIFY(!roots.isEmpty());
    QCOMPARE(roots.first(), QStringLiteral("/"));
    QCOMPARE(roots.count(QStringLiteral("/")), 1);
    for (const QString& r : roots) {
      QVERIFY2(QFileInfo(r).isDir(), qPrintable(r));
      QVERIFY2(!r.startsWith(QLatin1String("/proc")) && !r.startsWith(QLatin1String("/sys")), qPrintable(r));
    }
  }

  // A subfolder removed while it is listed: the list stays on its folder,
  // drops the entry, and the path box still matches.
  void vanishedSubfolder() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    auto* dir = rig.Get<FolderList>("Dir1");
    const QString sub1 = tree.root + QStringLiteral("/sub1");
    const int row = RowOf(dir, sub1);
    QVERIFY(row > 0);
    QVERIFY(QDir(sub1).removeRecursively());
    DoubleClickRow(dir, row);
    QCOMPARE(dir->Path(), tree.root);
    QCOMPARE(RowOf(dir, sub1), -1);
    QCOMPARE(rig.Get<FileList>("File1")->Path(), tree.root);
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), tree.root + QStringLiteral("/*.svf"));
  }

  // The chosen folder itself removed: opening anything below it goes back
  // to the nearest folder that is still there.
  void vanishedChosenFolder() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    QVERIFY(QDir(tree.root).mkpath(QStringLiteral("sub2/deeper")));
    rig.window->SetDirPath((tree.root + QStringLiteral("/sub2")).toStdString());
    auto* dir = rig.Get<FolderList>("Dir1");
    const int row = RowOf(dir, tree.root + QStringLiteral("/sub2/deeper"));
    QVERIFY(row > 0);
    QVERIFY(QDir(tree.root + QStringLiteral("/sub2")).removeRecursively());
    dir->OpenRow(row);
    QCOMPARE(dir->Path(), tree.root);
    QCOMPARE(rig.Get<FileList>("File1")->Path(), tree.root);
    QCOMPARE(rig.Get<FileList>("File1")->Names().size(), 4);
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), tree.root + QStringLiteral("/*.svf"));
  }

  // A folder that is no folder is not chosen.
  void unlistableFolderRefused_data() {
    QTest::addColumn<QString>("relative");
    QTest::newRow("missing") << "nothing-here";
    QTest::newRow("a file") << "a.svf";
  }
  void unlistableFolderRefused() {
    QFETCH(QString, relative);
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    ClickRow(rig.Get<FileList>("File1"), 0);
    rig.window->SetDirPath((tree.root + QLatin1Char('/') + relative).toStdString());
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), tree.root);
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), tree.root + QStringLiteral("/a.svf"));
    QCOMPARE(rig.window->SelectedFileName(), std::string("a.svf"));
  }

  // Paths are kept clean: no final separator, no "." or "..".
  void pathsNormalised() {
    Tree tree;
    UiRig rig;
    Open(rig, tree);
    rig.window->SetDirPath((tree.root + QStringLiteral("/sub1/../sub2/")).toStdString());
    QCOMPARE(rig.Get<FolderList>("Dir1")->Path(), tree.root + QStringLiteral("/sub2"));
    QCOMPARE(rig.Get<QLineEdit>("txt_filepath")->text(), tree.root + QStringLiteral("/sub2/*.svf"));
  }
};

std::unique_ptr<QObject> MakeChooserTest() { return std::make_unique<ChooserTest>(); }

}  // namespace tavrin::ui::testing

#include "chooser_test.moc"
