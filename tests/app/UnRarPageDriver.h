#pragma once
// Drives the "UnRar" page's folder dialog from a test: acts on it once it is shown.
#include "app/Unit1.h"
#include "controls/BrowseDr.h"

#include <QPushButton>
#include <QTimer>
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
