#pragma once
// Drives the "UnRar" page from a test: a window with a download folder, the archive chosen in
// the page's lists, and the folder dialog acted on once it is shown.
#include "WindowFixture.h"
#include "app/Unit1.h"
#include "controls/BrowseDr.h"
#include "controls/FilCtl95.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <functional>
#include <string>

// Runs `action` on the window's folder dialog once it is shown.
inline void OnFolderDialog(TForm1& form, std::function<void(TBrowseDirectoryDlg*)> action) {
  auto* poll = new QTimer(&form);
  QObject::connect(poll, &QTimer::timeout, [&form, poll, action] {
    if (form.BrowseDirectoryDlg1->DialogHandle() == nullptr) return;
    poll->stop();
    poll->deleteLater();
    action(form.BrowseDirectoryDlg1);
  });
  poll->start(5);
}

// Confirms the folder dialog, with a typed folder when one is given.
inline void AcceptFolder(TForm1& form, const std::string& typed = {}) {
  OnFolderDialog(form, [typed](TBrowseDirectoryDlg* dlg) {
    if (!typed.empty()) dlg->EditBox()->setText(QString::fromStdString(typed));
    dlg->DialogHandle()->findChild<QPushButton*>("OK")->click();
  });
}

// The window over a temporary program folder with a download folder Dl.
struct TUnRarPageFixture : TWindowFixture {
  std::unique_ptr<TForm1> Form;
  std::string Dl;

  void SetUp() override {
    Dl = Dir.File("dl");
    std::filesystem::create_directory(Dl);
    Form = Open();
  }
  // Selects Dl/name in the page's lists.
  void Choose(const std::string& name) {
    Form->Directory95ListBox3->SetDirectory(Q(Dl));
    Form->FilterComboBox2->setCurrentIndex(3);  // all files
    Form->FileListBox3->SetFileName(Q(name));
  }
  QStringList Memo() const { return Form->Memo2->toPlainText().split('\n'); }
};
