// Reading and writing the settings file.
#include "app/Unit1.h"

#include "app/Settings.h"
#include "controls/RadioGroup.h"

#include <QCheckBox>
#include <QComboBox>

namespace {
// An index outside the list leaves it without a chosen item and with empty text.
void ChooseItem(QComboBox* box, int index) {
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
  if (box->currentIndex() < 0 && box->isEditable()) box->setEditText(QString());
}
}  // namespace

void TForm1::LoadSettings() {
  IniPath = QString::fromStdString(services_.Paths.IniPath());
  IniFile = std::make_unique<TIniFile>(services_.Paths.IniPath());
  const TSettings s = ReadSettings(*IniFile);
  NewNameType = s.NewNameType;
  VolumeLevel = s.VolumeLevel;
  CompressionLevel = s.CompressionLevel;
  CreateSFX = s.CreateSFX;
  Encrypt = s.Encrypt;
  AutoCreateSFV = s.AutoCreateSFV;
  UnrarAfterSFV = s.UnrarAfterSFV;

  ChkBoxUnrarAfter->setChecked(UnrarAfterSFV);
  ChkBoxCreateSFV->setChecked(AutoCreateSFV);
  ChkBoxEncrypt->setChecked(Encrypt);
  chkBoxCreateSFX->setChecked(CreateSFX);
  rdogrpFilename->SetItemIndex(NewNameType);
  ChooseItem(cmbCompLevel, CompressionLevel);
  ChooseItem(cmbVolumeSize, VolumeLevel);
  // A stored "Encrypt" needs the password box, as a click on the box would give it.
  ChkBoxEncryptClick();
}

void TForm1::SaveSettings() {
  NewNameType = rdogrpFilename->ItemIndex();
  CompressionLevel = cmbCompLevel->currentIndex();
  VolumeLevel = cmbVolumeSize->currentIndex();
  UnrarAfterSFV = ChkBoxUnrarAfter->isChecked();
  AutoCreateSFV = ChkBoxCreateSFV->isChecked();
  Encrypt = ChkBoxEncrypt->isChecked();
  CreateSFX = chkBoxCreateSFX->isChecked();
  if (!IniFile) return;
  WriteSettings(*IniFile, {NewNameType, VolumeLevel, CompressionLevel, CreateSFX, Encrypt,
                           AutoCreateSFV, UnrarAfterSFV});
}
