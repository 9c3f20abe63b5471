#pragma once
// The pickers' drive box and folder list in the window's own style.
#include "controls/FileCtrl.h"

class TDrive95ComboBox : public TDriveComboBox {
  Q_OBJECT
public:
  using TDriveComboBox::TDriveComboBox;
};

class TDirectory95ListBox : public TDirectoryListBox {
  Q_OBJECT
public:
  using TDirectoryListBox::TDirectoryListBox;
};
