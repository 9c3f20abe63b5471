#pragma once
// The pickers' drive box and folder list with the program's own 16 x 16 pictures. Each
// picture is drawn with the colour of its bottom-left pixel left transparent; the folder
// list indents 4 pixels per level and writes the name 4 pixels right of the picture.
#include "controls/FileCtrl.h"

#include <QImage>
#include <QPixmap>

// One of the eight pictures compiled into the program, by resource name ("OPENFOLDER_95",
// "CLOSEDFOLDER_95", "CURRENTFOLDER_95", "FLOPPY_95", "FIXED_95", "NETWORK_95", "CDROM_95",
// "RAM_95"), exactly as stored; a null image for an unknown name.
QImage Picture95(const QString& name);
// The same picture as drawn: its bottom-left pixel's colour made transparent.
QPixmap TransparentPicture95(const QString& name);
// The resource name of a drive type's picture.
QString DrivePictureName(TDriveType type);

class TDrive95ComboBox : public TDriveComboBox {
  Q_OBJECT
public:
  explicit TDrive95ComboBox(QWidget* parent = nullptr);
  // As high as the font needs, at least the floppy picture's height.
  int ItemHeight() const;

protected:
  QIcon DriveIcon(TDriveType type) const override;
  void changeEvent(QEvent* event) override;
};

class TDirectory95ListBox : public TDirectoryListBox {
  Q_OBJECT
public:
  explicit TDirectory95ListBox(QWidget* parent = nullptr);

protected:
  QIcon FolderIcon(TFolderKind kind) const override;
  void changeEvent(QEvent* event) override;

private:
  void FitItemHeight();
};
