// The "Create SFV File" and "Validate SFV file" pages.
#include "app/Unit1.h"

#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/RadioGroup.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTextEdit>
#include <QVBoxLayout>

QWidget* TForm1::CreateSfvCreationPage() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  Panel7 = CreateButtonBar({&GradBtn1, &GradBtn2, &GradBtn3, &GradBtn4},
                           {QStringLiteral("&Create"), QStringLiteral("&Halt"),
                            QStringLiteral("Clear Results"), QStringLiteral("E&xit")});
  column->addWidget(Panel7);

  auto* body = new QHBoxLayout;
  body->addWidget(CreatePicker(Drive95ComboBox2, Directory95ListBox2, FileListBox2, nullptr), 1);
  FileListBox2->SetMultiSelect(true);
  FileListBox2->SetItemHeight(13);

  auto* right = new QVBoxLayout;
  GroupBox4 = new QGroupBox(QStringLiteral("Results"));
  auto* results = new QVBoxLayout(GroupBox4);
  RichEdit1 = new QTextEdit;
  RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  RichEdit1->setLineWrapMode(QTextEdit::NoWrap);
  results->addWidget(RichEdit1);
  right->addWidget(GroupBox4, 1);

  Panel38 = new QWidget;
  auto* panel38Layout = new QVBoxLayout(Panel38);
  panel38Layout->setContentsMargins(0, 0, 0, 0);
  Panel5 = new QWidget;
  Panel5->setMinimumHeight(100);
  rdogrpFilename = new TRadioGroup(QStringLiteral("Base SFV filename on..."),
                                   {QStringLiteral("First selected filename"),
                                    QStringLiteral("Directory name"), QStringLiteral("Custom name")},
                                   Panel5);
  rdogrpFilename->SetItemIndex(0);
  Edit2 = new QLineEdit(Panel5);
  panel38Layout->addWidget(Panel5);
  Panel5->installEventFilter(this);
  Panel38->installEventFilter(this);
  right->addWidget(Panel38);
  body->addLayout(right, 1);
  column->addLayout(body, 1);
  return page;
}

QWidget* TForm1::CreateSfvCheckPage() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  Panel8 = CreateButtonBar({&GradBtn5, &GradBtn6, &GradBtn7, &GradBtn8},
                           {QStringLiteral("&Validate"), QStringLiteral("&Halt"),
                            QStringLiteral("Clear Results"), QStringLiteral("E&xit")});
  column->addWidget(Panel8);

  auto* body = new QHBoxLayout;
  body->addWidget(
      CreatePicker(Drive95ComboBox1, Directory95ListBox1, FileListBox1, &FilterComboBox1), 1);
  FilterComboBox1->SetFilter(
      QStringLiteral("SFV Files (*.sfv)|*.sfv|CRC Files (*.crc)|*.crc|Text Files (*.txt)|*.txt|"
                     "All files (*.*)|*.*"));
  // The filter drives the list, so choosing "CRC Files (*.crc)" lists .crc files.
  FilterComboBox1->SetFileList(FileListBox1);
  FileListBox1->SetMask(QStringLiteral("*.sfv"));

  auto* right = new QVBoxLayout;
  GroupBox1 = new QGroupBox(QStringLiteral("Results"));
  auto* results = new QVBoxLayout(GroupBox1);
  ListBox1 = new QListWidget;
  ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListBox1->setUniformItemSizes(true);
  QFont listFont(QStringLiteral("MS Sans Serif"));
  listFont.setPixelSize(11);
  listFont.setBold(true);
  ListBox1->setFont(listFont);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  results->addWidget(ListBox1);
  right->addWidget(GroupBox1, 1);
  ChkBoxUnrarAfter = new QCheckBox(QStringLiteral("Unrar after SFV"));
  right->addWidget(ChkBoxUnrarAfter);
  body->addLayout(right, 1);
  column->addLayout(body, 1);

  popValidate = new QMenu(this);
  Copyselectedline1 = popValidate->addAction(QStringLiteral("Copy selected line"));
  Copyselectedline1->setData(0);
  Copyall1 = popValidate->addAction(QStringLiteral("Copy all"));
  Copyall1->setData(1);
  connect(ListBox1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { popValidate->popup(ListBox1->viewport()->mapToGlobal(at)); });
  connect(Copyselectedline1, &QAction::triggered, this, [this] { Copyall1Click(Copyselectedline1); });
  connect(Copyall1, &QAction::triggered, this, [this] { Copyall1Click(Copyall1); });
  connect(FileListBox1, &TFileListBox::DblClick, this, [this] { FileListBox1DblClick(); });
  connect(Directory95ListBox2, &TDirectoryListBox::Change, this, [this] { Directory95ListBox2Change(); });
  return page;
}

void TForm1::GradBtn3Click() { RichEdit1->clear(); }

void TForm1::GradBtn7Click() { ListBox1->clear(); }

void TForm1::FileListBox1DblClick() { GradBtn5Click(); }

void TForm1::Directory95ListBox2Change() {
  // The list scrolls sideways by itself as far as its longest name needs.
}

// The creation and check workflows arrive with their pages' own work; until then the
// buttons and timers reach these and nothing starts.
void TForm1::GradBtn1Click() {}
void TForm1::GradBtn5Click() {}
void TForm1::ValidateSfv(const QString&) {}
void TForm1::SelectFileSet() {}
void TForm1::UnrarAfterCheck() {}
void TForm1::Copyall1Click(QAction*) {}
void TForm1::ShowErrorReport() {}
