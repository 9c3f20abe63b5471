#include "controls/BrowseDr.h"

#include <gtest/gtest.h>

#include <QAbstractFileIconProvider>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

void PrintTo(const TBrowseFlags& flags, std::ostream* os) { *os << "mask 0x" << std::hex << flags.Mask(); }

namespace {

// Runs Execute and acts on the dialog once its event loop runs. A dialog the action
// leaves open is closed after a few seconds so that a fault fails instead of hanging.
struct TDialogRun {
  bool Result = false;
  bool LeftOpen = false;
};

TDialogRun RunDialog(TBrowseDirectoryDlg& dlg, const std::function<void(QDialog*)>& act) {
  TDialogRun run;
  // Timers that die with this call: a dialog closed before its loop ran must not leave
  // one behind to act on the next test's dialog.
  QTimer kick;
  kick.setSingleShot(true);
  QObject::connect(&kick, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) act(dialog);
  });
  kick.start(0);
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      run.LeftOpen = true;
      dialog->reject();
    }
  });
  watchdog.start(5000);
  run.Result = dlg.Execute();
  return run;
}

QPushButton* Button(QDialog* dialog, const char* name) {
  return dialog->findChild<QPushButton*>(QString::fromLatin1(name));
}

QTreeWidget* Tree(QDialog* dialog) { return dialog->findChild<QTreeWidget*>(QStringLiteral("Tree")); }

// A folder tree of our own: base/dl, base/e/sub, base/.hidden/inner, base/file.txt.
struct TFolders {
  QTemporaryDir Temp;
  QString Base;
  explicit TFolders(const QString& pattern = {})
      : Temp(pattern.isEmpty() ? QDir::tempPath() + QStringLiteral("/tallyra-browse-XXXXXX") : pattern) {
    Base = QDir(Temp.path()).canonicalPath();
    for (const char* sub : {"dl", "e/sub", ".hidden/inner", "many/a", "many/b"}) {
      QDir().mkpath(Base + QLatin1Char('/') + QLatin1String(sub));
    }
    QFile file(Base + QStringLiteral("/file.txt"));
    file.open(QIODevice::WriteOnly);
    file.write("x");
  }
  QString operator()(const char* sub) const { return Base + QLatin1Char('/') + QLatin1String(sub); }
};

// One character, one unit: status widths in the tables below count characters.
int CharWidth(const QString& text) { return static_cast<int>(text.size()); }

}  // namespace

TEST(BrowseDirectoryDlg, OptionsAddWhatTheyImply) {
  struct TCase {
    TBrowseFlags Given, Expected;
  };
  const std::vector<TCase> cases = {
      {{}, {}},
      {{bfEditBox}, {bfEditBox}},
      {{bfUseNewUI}, {bfEditBox, bfNewDialogStyle, bfUseNewUI}},
      {{bfIncludeURLs}, {bfIncludeURLs, bfIncludeFiles, bfUseNewUI, bfEditBox, bfNewDialogStyle}},
      {{bfShareable}, {bfShareable, bfUseNewUI, bfEditBox, bfNewDialogStyle}},
      {{bfNewDialogStyle}, {bfNewDialogStyle}},
      {{bfDirectoriesOnly, bfComputers}, {bfDirectoriesOnly, bfComputers}},
  };
  for (const TCase& c : cases) {
    TBrowseDirectoryDlg dlg;
    dlg.SetOptions(c.Given);
    EXPECT_EQ(dlg.Options(), c.Expected) << "given mask " << c.Given.Mask();
  }
  EXPECT_EQ(TBrowseFlags({bfDirectoriesOnly, bfUseNewUI}).Mask(), 0x0401);
}

TEST(BrowseDirectoryDlg, ShellFlagsAddValidateAndStatus) {
  struct TCase {
    TBrowseFlags Options;
    QString Status;
    bool ShowSelection;
    std::uint32_t Expected;
  };
  const std::vector<TCase> cases = {
      {{}, {}, false, 0x00},
      {{}, QStringLiteral("x"), false, 0x04},
      {{}, {}, true, 0x04},
      {{bfEditBox}, {}, false, 0x30},
      {{bfDirectoriesOnly, bfAncestors, bfDomainOnly}, {}, false, 0x0B},
      {{bfComputers, bfPrinters, bfIncludeFiles, bfShareable}, {}, false, 0xF070},
      // The extraction page's dialog.
      {{bfEditBox, bfNewDialogStyle, bfUseNewUI}, {}, true, 0x74},
  };
  for (const TCase& c : cases) {
    TBrowseDirectoryDlg dlg;
    dlg.SetOptions(c.Options);
    dlg.SetStatusText(c.Status);
    dlg.SetShowSelectionInStatus(c.ShowSelection);
    EXPECT_EQ(dlg.ShellFlags(), c.Expected) << "options " << c.Options.Mask();
  }
}

TEST(BrowseDirectoryDlg, SelectionGetsASeparatorOnlyForAnExistingFolder) {
  TFolders folders;
  struct TCase {
    QString Given, Expected;
  };
  const std::vector<TCase> cases = {
      {folders("dl"), folders("dl") + QLatin1Char('/')},
      {folders("dl") + QLatin1Char('/'), folders("dl") + QLatin1Char('/')},
      {folders("missing"), folders("missing")},
      {folders("file.txt"), folders("file.txt")},
      {QStringLiteral("/"), QStringLiteral("/")},
      {QString(), QString()},
  };
  for (const TCase& c : cases) {
    TBrowseDirectoryDlg dlg;
    dlg.SetShowSelectionInStatus(true);
    dlg.SetSelection(c.Given);
    EXPECT_EQ(dlg.Selection(), c.Expected) << c.Given.toStdString();
    EXPECT_EQ(dlg.StatusText(), c.Expected) << "the status line follows";
  }
}

TEST(BrowseDirectoryDlg, StatusLineFitting) {
  struct TCase {
    const char* Text;
    bool Folder;
    int Width;
    const char* Expected;
  };
  const std::vector<TCase> cases = {
      {"/home/user/docs/file", true, 20, "/home/user/docs/file"},
      {"/home/user/docs/file", true, 19, "/.../user/docs/file"},
      {"/home/user/docs/file", true, 15, "/.../docs/file"},
      {"/home/user/docs/file", true, 10, "/.../file"},
      {"/home/user/docs/file", true, 8, ".../file"},
      // Nothing left to shorten: the loop must end rather than spin on ".../".
      {"/home/user/docs/file", true, 3, ".../file"},
      {"/home/user/docs/", true, 12, "/.../docs/"},
      {"/home/user/docs/", true, 4, ".../"},
      {"/.config/tallyra/x", true, 14, "/.../tallyra/x"},
      {"hello world", false, 11, "hello world"},
      {"hello world", false, 8, "hello..."},
      {"hello world", false, 4, "h..."},
      {"hello world", false, 2, "..."},
      {"", false, 0, ""},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(FitStatusLine(QString::fromUtf8(c.Text), c.Folder, c.Width, CharWidth), QString::fromUtf8(c.Expected))
        << c.Text << " in " << c.Width;
  }
}

TEST(BrowseDirectoryDlg, RootsMapToTheUsersFolders) {
  QTemporaryDir temp;
  const QString home = QDir(temp.path()).canonicalPath();
  const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME"),
                   oldData = qgetenv("XDG_DATA_HOME");
  qputenv("HOME", QFile::encodeName(home));
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/config")));
  qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/data")));
  for (const char* sub : {"Docs", "Desk", "Tpl", "config/autostart", "data/applications", "data/fonts"}) {
    QDir().mkpath(home + QLatin1Char('/') + QLatin1String(sub));
  }
  QFile dirs(home + QStringLiteral("/config/user-dirs.dirs"));
  ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
  dirs.write("XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
             "XDG_TEMPLATES_DIR=\"$HOME/Tpl\"\nXDG_MUSIC_DIR=\"$HOME/Music\"\n");
  dirs.close();

  struct TCase {
    TRootID Root;
    QString Expected;
  };
  const std::vector<TCase> cases = {
      {idDrives, QString()},
      {idDesktop, home},
      {idDesktopExpanded, home},
      {idPersonal, home + QStringLiteral("/Docs")},
      {idDesktopDirectory, home + QStringLiteral("/Desk")},
      {idTemplates, home + QStringLiteral("/Tpl")},
      {idStartup, home + QStringLiteral("/config/autostart")},
      {idPrograms, home + QStringLiteral("/data/applications")},
      {idStartMenu, home + QStringLiteral("/data/applications")},
      {idFonts, home + QStringLiteral("/data/fonts")},
      {idAppData, home + QStringLiteral("/data")},
      // No Trash folder here: a missing folder gives the home folder.
      {idRecycleBin, home},
      {idPrinters, home},
      {idNetwork, home},
  };
  for (const TCase& c : cases) EXPECT_EQ(RootFolder(c.Root), c.Expected) << "root " << c.Root;

  qputenv("HOME", oldHome);
  oldConfig.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", oldConfig);
  oldData.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", oldData);
}

TEST(BrowseDirectoryDlg, CancelReturnsFalseAndClearsTheSelection) {
  TFolders folders;
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetSelection(folders("dl"));
  ASSERT_TRUE(RunDialog(dlg, [](QDialog* d) { d->accept(); }).Result);  // a first choice sets ImageIndex
  const int image = dlg.ImageIndex();
  ASSERT_NE(image, -1);
  ASSERT_TRUE(dlg.SelectionPIDL().has_value());

  dlg.SetSelection(folders("e"));
  const TDialogRun run = RunDialog(dlg, [](QDialog* d) { Button(d, "Cancel")->click(); });
  EXPECT_FALSE(run.Result);
  EXPECT_FALSE(run.LeftOpen);
  EXPECT_TRUE(dlg.Selection().isEmpty());
  EXPECT_FALSE(dlg.SelectionPIDL().has_value());
  EXPECT_TRUE(dlg.DisplayName().isEmpty());
  EXPECT_EQ(dlg.ImageIndex(), image);
  EXPECT_EQ(dlg.DialogHandle(), nullptr);
}

TEST(BrowseDirectoryDlg, OkReturnsThePreselectedFolderWithoutSeparator) {
  // The desktop root is the home folder, so the folders go there.
  TFolders folders(QDir::homePath() + QStringLiteral("/tallyra-browse-XXXXXX"));
  for (TRootID root : {idDrives, idDesktop}) {
    TBrowseDirectoryDlg dlg;
    dlg.SetRoot(root);
    dlg.SetSelection(folders("e/sub"));
    ASSERT_EQ(dlg.Selection(), folders("e/sub/"));
    QString current;
    const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
      current = Tree(d)->currentItem()->data(0, Qt::UserRole).toString();
      Button(d, "OK")->click();
    });
    EXPECT_TRUE(run.Result);
    EXPECT_EQ(current, folders("e/sub")) << "the tree opens at the selection";
    EXPECT_EQ(dlg.Selection(), folders("e/sub"));
    EXPECT_EQ(dlg.DisplayName(), QStringLiteral("sub"));
    EXPECT_EQ(dlg.ImageIndex(), QAbstractFileIconProvider::Folder);
    ASSERT_TRUE(dlg.SelectionPIDL().has_value());
    EXPECT_EQ(dlg.SelectionPIDL()->Path, folders("e/sub"));
  }
}

TEST(BrowseDirectoryDlg, TheDrivesFolderItselfIsAChoiceWithoutPath) {
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetSelection(QStringLiteral("/"));
  int drives = 0;
  const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
    QTreeWidget* tree = Tree(d);
    drives = tree->topLevelItem(0)->childCount();
    tree->setCurrentItem(tree->topLevelItem(0));
    Button(d, "OK")->click();
  });
  EXPECT_TRUE(run.Result);
  EXPECT_GE(drives, 1);
  EXPECT_TRUE(dlg.Selection().isEmpty());
  EXPECT_EQ(dlg.ImageIndex(), QAbstractFileIconProvider::Computer);

  // Folders only: the drives folder cannot be confirmed.
  dlg.SetOptions({bfDirectoriesOnly});
  bool okEnabledOnRoot = true, okEnabledOnDrive = false;
  RunDialog(dlg, [&](QDialog* d) {
    QTreeWidget* tree = Tree(d);
    tree->setCurrentItem(tree->topLevelItem(0));
    okEnabledOnRoot = Button(d, "OK")->isEnabled();
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    okEnabledOnDrive = Button(d, "OK")->isEnabled();
    d->reject();
  });
  EXPECT_FALSE(okEnabledOnRoot);
  EXPECT_TRUE(okEnabledOnDrive);
}

TEST(BrowseDirectoryDlg, TypedPaths) {
  TFolders folders;
  struct TCase {
    const char* Name;
    QString Typed;
    bool Handler;
    bool HandlerCancels;
    bool ExpectOpen;        // the dialog refused to close
    bool ExpectValidation;  // OnValidateFailed was raised
    QString ExpectSelection;
  };
  const std::vector<TCase> cases = {
      {"existing folder", folders("e/sub"), true, false, false, false, folders("e/sub")},
      {"existing folder, separator", folders("e/sub/"), true, false, false, false, folders("e/sub")},
      {"relative to the selection", QStringLiteral("sub"), true, false, false, false, folders("e/sub")},
      {"no handler: kept open", folders("dl/backup/"), false, false, true, false, QString()},
      {"missing folder kept open", folders("dl/backup/"), true, false, true, true, QString()},
      {"missing folder accepted", folders("dl/backup/"), true, true, false, true, folders("dl/backup")},
      {"relative missing accepted", QStringLiteral("new"), true, true, false, true, folders("e/new")},
      {"a file is no folder", folders("file.txt"), true, false, true, true, QString()},
  };
  for (const TCase& c : cases) {
    TBrowseDirectoryDlg dlg;
    dlg.SetRoot(idDrives);
    dlg.SetOptions({bfUseNewUI});
    dlg.SetSelection(folders("e"));
    std::vector<QString> validated;
    if (c.Handler) {
      dlg.OnValidateFailed = [&](TBrowseDirectoryDlg*, const QString& path, bool& cancel) {
        validated.push_back(path);
        cancel = c.HandlerCancels;
      };
    }
    bool stillOpen = false;
    const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
      d->findChild<QLineEdit*>(QStringLiteral("Edit"))->setText(c.Typed);
      Button(d, "OK")->click();
      stillOpen = d->isVisible();
      if (stillOpen) d->reject();
    });
    EXPECT_EQ(stillOpen, c.ExpectOpen) << c.Name;
    EXPECT_EQ(run.Result, !c.ExpectOpen) << c.Name;
    EXPECT_EQ(!validated.empty(), c.ExpectValidation) << c.Name;
    if (!validated.empty()) {
      EXPECT_EQ(validated.front(), c.Typed) << c.Name << ": the typed text as typed";
    }
    EXPECT_EQ(dlg.Selection(), c.ExpectSelection) << c.Name;
  }
}

TEST(BrowseDirectoryDlg, OkThatCannotGiveAFolderKeepsTheDialogOpenAndSaysWhy) {
  // The drives folder selected: typed text counts from no folder; with a folder required
  // the drives folder itself is no choice either.
  const struct {
    const char* Name;
    QString Typed;
    bool Required;
    bool ExpectOpen;
    QString ExpectStatus;
  } cases[] = {
      {"relative text", QStringLiteral("backup/"), false, true,
       QStringLiteral("Select a folder first: \"backup/\" is not a full path")},
      {"relative text, folder required", QStringLiteral("backup/"), true, true,
       QStringLiteral("Select a folder first: \"backup/\" is not a full path")},
      {"the drives folder, required", QString(), true, true, QStringLiteral("Select a folder: \"Computer\" is not one")},
      {"the drives folder, not required", QString(), false, false, QString()},
  };
  for (const auto& c : cases) {
    TBrowseDirectoryDlg dlg;
    dlg.SetRoot(idDrives);
    dlg.SetOptions({bfEditBox, bfNewDialogStyle, bfUseNewUI});
    dlg.SetShowSelectionInStatus(true);
    dlg.SetFolderRequired(c.Required);
    bool validated = false;
    dlg.OnValidateFailed = [&](TBrowseDirectoryDlg*, const QString&, bool& cancel) {
      validated = true;
      cancel = true;  // the window's handler takes any typed path
    };
    bool stillOpen = false;
    QString status;
    const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
      QTreeWidget* tree = Tree(d);
      tree->setCurrentItem(tree->topLevelItem(0));
      d->findChild<QLineEdit*>(QStringLiteral("Edit"))->setText(c.Typed);
      Button(d, "OK")->click();
      stillOpen = d->isVisible();
      status = d->findChild<QLabel*>(QStringLiteral("Status"))->text();
      if (stillOpen) d->reject();
    });
    EXPECT_EQ(stillOpen, c.ExpectOpen) << c.Name;
    EXPECT_FALSE(validated) << c.Name;
    if (c.ExpectOpen) {
      EXPECT_EQ(status, c.ExpectStatus) << c.Name;
      EXPECT_FALSE(run.Result) << c.Name;
    } else {
      EXPECT_TRUE(run.Result) << c.Name;
    }
  }
}

TEST(BrowseDirectoryDlg, CreateComesFirstAndReachesTheEditBox) {
  // The extraction page's use: an archive backup.rar in <base>/dl.
  TFolders folders;
  const QString subfolder = QStringLiteral("backup/");
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetOptions({bfEditBox, bfNewDialogStyle, bfUseNewUI});
  dlg.SetShowSelectionInStatus(true);
  dlg.SetTitle(QStringLiteral("Extract To...(Directory will be created if it does not exist)"));
  dlg.SetSelection(folders("dl"));

  std::vector<std::string> events;
  QPointer<QLineEdit> edit;
  QDialog* handleAtCreate = nullptr;
  QString editSeenBySelChanged;
  dlg.OnCreate = [&](TBrowseDirectoryDlg* sender) {
    events.push_back("create");
    handleAtCreate = sender->DialogHandle();
    edit = sender->DialogHandle()->findChild<QLineEdit*>(QStringLiteral("Edit"));
    EXPECT_EQ(edit, sender->EditBox());
    edit->setText(folders("dl") + QLatin1Char('/') + subfolder);
  };
  dlg.OnSelChanged = [&](TBrowseDirectoryDlg*, const QString& newSel, const TBrowseItem& item) {
    events.push_back("selchanged " + newSel.toStdString());
    EXPECT_EQ(item.Path, newSel);
    editSeenBySelChanged = edit ? edit->text() : QString();
    if (edit) edit->setText(newSel.isEmpty() ? subfolder : newSel + QLatin1Char('/') + subfolder);
  };

  std::vector<QString> shown;
  QString status;
  QDialog* modal = nullptr;
  const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
    modal = d;
    shown.push_back(edit->text());
    dlg.SetSelection(folders("e"));
    shown.push_back(edit->text());
    status = dlg.StatusText();
    QTreeWidget* tree = Tree(d);
    tree->setCurrentItem(tree->topLevelItem(0));
    shown.push_back(edit->text());
    d->reject();
  });
  EXPECT_FALSE(run.Result);
  EXPECT_EQ(handleAtCreate, modal);
  ASSERT_NE(modal, nullptr);
  const std::vector<std::string> expectedEvents = {"create", "selchanged " + folders("e").toStdString(),
                                                   "selchanged "};
  EXPECT_EQ(events, expectedEvents);
  const std::vector<QString> expectedShown = {folders("dl/backup/"), folders("e/backup/"), subfolder};
  EXPECT_EQ(shown, expectedShown);
  EXPECT_EQ(editSeenBySelChanged, QString()) << "the dialog puts the item's path in first";
  EXPECT_EQ(status, folders("e")) << "the status line follows the selection";
}

TEST(BrowseDirectoryDlg, WindowCaptionTitleAndCentre) {
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetCaption(QStringLiteral("Pick one"));
  dlg.SetTitle(QStringLiteral("Extract To..."));
  QString captionShown, captionAfter, title;
  QPoint centre, screenCentre;
  bool statusVisible = true, editExists = true;
  RunDialog(dlg, [&](QDialog* d) {
    captionShown = d->windowTitle();
    dlg.SetCaption(QStringLiteral("Changed"));
    captionAfter = dlg.Caption();
    title = d->findChild<QLabel*>(QStringLiteral("Title"))->text();
    centre = d->frameGeometry().center();
    screenCentre = d->screen()->geometry().center();
    statusVisible = dlg.StatusControl()->isVisible();
    editExists = d->findChild<QLineEdit*>() != nullptr;
    d->reject();
  });
  EXPECT_EQ(captionShown, QStringLiteral("Pick one"));
  EXPECT_EQ(captionAfter, QStringLiteral("Changed"));
  EXPECT_EQ(dlg.Caption(), QStringLiteral("Changed"));
  EXPECT_EQ(title, QStringLiteral("Extract To..."));
  EXPECT_LE((centre - screenCentre).manhattanLength(), 2);
  EXPECT_FALSE(statusVisible) << "no status text and the old style: no status line";
  EXPECT_FALSE(editExists) << "no edit box without bfEditBox";
}

TEST(BrowseDirectoryDlg, StatusLineIsFittedToTheControl) {
  TFolders folders;
  QString deep = folders.Base;
  for (int i = 0; i < 8; ++i) deep += QStringLiteral("/a_rather_long_folder_name_%1").arg(i);
  ASSERT_TRUE(QDir().mkpath(deep));

  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetOptions({bfUseNewUI});
  dlg.SetShowSelectionInStatus(true);
  dlg.SetSelection(deep);
  QString shown, expected, unfitted;
  int width = 0, used = 0;
  RunDialog(dlg, [&](QDialog* d) {
    QLabel* status = dlg.StatusControl();
    const QFontMetrics metrics(status->font());
    width = status->width();
    shown = status->text();
    used = metrics.horizontalAdvance(shown);
    expected = FitStatusLine(dlg.StatusText(), true, width,
                             [&](const QString& s) { return metrics.horizontalAdvance(s); });
    dlg.SetFitStatusText(false);
    unfitted = status->text();
    d->reject();
  });
  EXPECT_GT(width, 10);
  EXPECT_EQ(shown, expected);
  EXPECT_TRUE(shown.startsWith(QStringLiteral("/.../"))) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith(QStringLiteral("a_rather_long_folder_name_7/"))) << shown.toStdString();
  EXPECT_LE(used, width);
  EXPECT_EQ(unfitted, deep + QLatin1Char('/'));
}

TEST(BrowseDirectoryDlg, SubfoldersLoadWhenOpened) {
  TFolders folders;
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetSelection(folders.Base);
  int before = -1, after = -1, hiddenShown = -1, filesShown = -1;
  RunDialog(dlg, [&](QDialog* d) {
    QTreeWidgetItem* base = Tree(d)->currentItem();
    QTreeWidgetItem* many = nullptr;
    base->setExpanded(true);
    for (int i = 0; i < base->childCount(); ++i) {
      if (base->child(i)->text(0) == QLatin1String("many")) many = base->child(i);
      if (base->child(i)->text(0) == QLatin1String(".hidden")) hiddenShown = 1;
      if (base->child(i)->text(0) == QLatin1String("file.txt")) filesShown = 1;
    }
    if (!many) return;
    before = many->childCount();
    many->setExpanded(true);
    after = many->childCount();
    d->reject();
  });
  EXPECT_EQ(before, 0) << "not read before it is opened";
  EXPECT_EQ(after, 2);
  EXPECT_EQ(hiddenShown, -1) << "dot-folders are hidden";
  EXPECT_EQ(filesShown, -1) << "no files without bfIncludeFiles";

  // A hidden folder can still be preselected, and files show with bfIncludeFiles.
  dlg.SetOptions({bfIncludeFiles});
  dlg.SetSelection(folders(".hidden/inner"));
  QString current;
  bool fileListed = false;
  RunDialog(dlg, [&](QDialog* d) {
    current = Tree(d)->currentItem()->data(0, Qt::UserRole).toString();
    dlg.SetSelection(folders("file.txt"));
    fileListed = Tree(d)->currentItem()->text(0) == QLatin1String("file.txt");
    Button(d, "OK")->click();
  });
  EXPECT_EQ(current, folders(".hidden/inner"));
  EXPECT_TRUE(fileListed);
  EXPECT_EQ(dlg.Selection(), folders("file.txt"));
  EXPECT_EQ(dlg.ImageIndex(), QAbstractFileIconProvider::File);
}

TEST(BrowseDirectoryDlg, UnreadableFolderHasNoChildrenAndNoError) {
  TFolders folders;
  const QString locked = folders("locked");
  QDir().mkpath(locked + QStringLiteral("/inside"));
  QFile::setPermissions(locked, QFileDevice::Permissions());
  if (!QDir(locked).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty()) {
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    GTEST_SKIP() << "this user reads every folder";
  }
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetSelection(locked);
  int children = -1;
  const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
    QTreeWidgetItem* item = Tree(d)->currentItem();
    item->setExpanded(true);
    children = item->childCount();
    Button(d, "OK")->click();
  });
  QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(children, 0);
  EXPECT_TRUE(run.Result);
  EXPECT_EQ(dlg.Selection(), locked);
}

TEST(BrowseDirectoryDlg, ClosingFromOnCreateDoesNotHang) {
  TBrowseDirectoryDlg dlg;
  dlg.OnCreate = [](TBrowseDirectoryDlg* sender) { sender->DialogHandle()->reject(); };
  const TDialogRun run = RunDialog(dlg, [](QDialog*) {});
  EXPECT_FALSE(run.Result);
  EXPECT_FALSE(run.LeftOpen);
}

TEST(BrowseDirectoryDlg, EnableOKButtonSwitchesOk) {
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetEnableOKButton(false);
  bool atStart = true, afterMove = true, afterEnable = false;
  const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
    atStart = Button(d, "OK")->isEnabled();
    QTreeWidget* tree = Tree(d);
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    afterMove = Button(d, "OK")->isEnabled();
    dlg.SetEnableOKButton(true);
    afterEnable = Button(d, "OK")->isEnabled();
    Button(d, "OK")->click();
  });
  EXPECT_FALSE(atStart);
  EXPECT_FALSE(afterMove);
  EXPECT_TRUE(afterEnable);
  EXPECT_TRUE(run.Result);
}

TEST(BrowseDirectoryDlg, VanishedFolderExpandsToNothing) {
  TFolders folders;
  TBrowseDirectoryDlg dlg;
  dlg.SetRoot(idDrives);
  dlg.SetSelection(folders("many"));
  int children = -1;
  bool indicator = true;
  const TDialogRun run = RunDialog(dlg, [&](QDialog* d) {
    QTreeWidgetItem* item = Tree(d)->currentItem();
    QDir(folders("many")).removeRecursively();
    item->setExpanded(true);
    children = item->childCount();
    indicator = item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator;
    d->reject();
  });
  EXPECT_FALSE(run.LeftOpen);
  EXPECT_EQ(children, 0);
  EXPECT_FALSE(indicator) << "an empty folder loses its expand mark once opened";
}
