// The "Create SFV File" and "Validate SFV file" pages, and the error report.
#include "app/Unit1.h"

#include "app/NativePath.h"
#include "app/Unit2.h"
#include "checksum/SfvCreate.h"
#include "checksum/SfvFile.h"
#include "controls/ProgressCyl.h"
#include "platform/FileSystem.h"
#include "platform/SystemError.h"

#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/RadioGroup.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QScrollBar>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
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
  // The box follows its item wherever the group's layout puts it, also when the page is
  // first laid out long after the window was shown (a /C start shows another page).
  rdogrpFilename->Button(2)->installEventFilter(this);
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
  ListBox1->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  QFont listFont(QStringLiteral("MS Sans Serif"));
  listFont.setPixelSize(11);
  listFont.setBold(true);
  ListBox1->setFont(listFont);
  ListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
  InstallListBox1Drawing();
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


// ------------------------------------------------------------------ SFV creation

void TForm1::GradBtn1Click() {
  if (FileListBox2->SelCount() == 0) {
    dialogs_->ShowMessage(QStringLiteral("You must select files to check first"));
    return;
  }
  if (workflowRunning_) return;  // a hand-over during a running check waits its turn
  Halted = false;
  BeginWorkflow({GradBtn1});

  TSfvCreateRequest request;
  for (int i = 0; i < FileListBox2->Count(); ++i) {
    if (FileListBox2->Selected(i)) request.Names.push_back(Native(FileListBox2->Name(i)));
  }
  const QString folder = Directory95ListBox2->Directory();
  SfvPath = FromNative(SfvPathForRule(rdogrpFilename->ItemIndex(), Native(AddBackslash(folder)),
                                      request.Names.front(), Native(Edit2->text())));
  request.SfvPath = Native(SfvPath);
  request.StatusTitle = StatusTitle.toStdString();
  WorkDir = AddBackslash(LongPathName(folder));
  request.Folder = Native(WorkDir);
  RichEdit1->clear();
  ErrorList.clear();

  TSfvCreateHooks hooks;
  hooks.Halted = [this] { return Halted; };
  hooks.PumpMessages = [] { QCoreApplication::processEvents(); };
  hooks.OnSummingStart = [this](int) { ShowProgress(true); };
  hooks.OnFileStart = [this](int, int, const std::string& name) {
    TallyraStatus->setText(QStringLiteral("Calculating CRC on : ") + FromNative(name));
  };
  hooks.FileCrc = [this](const std::string& path) {
    TFileCrcResult r;
    r.Crc = FileCrc(FromNative(path));
    r.Status = Halted ? TCrcStatus::Halted : LastError != 0 ? TCrcStatus::Failed : TCrcStatus::Ok;
    r.ErrorCode = static_cast<int>(LastError);
    return r;
  };
  hooks.OnFileDone = [this](int k, int m, const std::string& name, const TFileCrcResult& r) {
    GroupBox4->setTitle(QStringLiteral("Results (") + QStringLiteral("Checked ") +
                        QString::number(k) + QStringLiteral(" of ") + QString::number(m) +
                        QStringLiteral(" files") + QStringLiteral(" )"));
    if (r.Status == TCrcStatus::Ok) {
      RichEdit1->append(FromNative(name) + QStringLiteral(" CRC is ") +
                        QString::fromStdString(CrcHexUpper(r.Crc)));
    } else {
      RichEdit1->append(FromNative(name) + QStringLiteral(" could not be read: ") +
                        FromLocal(::SystemErrorText(r.ErrorCode)).trimmed());
      for (const std::string& line : ReadErrorBlock(name, r.ErrorCode)) ErrorList << FromLocal(line);
    }
    RichEdit1->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  };
  hooks.OnWriting = [this] {
    TallyraStatus->setText(QStringLiteral("Done Calculating CRC"));
  };

  const TSfvCreateResult result = CreateSfv(request, hooks);
  EndWorkflow({GradBtn1});
  switch (result.Outcome) {
    case TSfvCreateOutcome::Written:
      RichEdit1->append(QString());
      RichEdit1->append(QStringLiteral("Validation file created"));
      ShowProgress(false);
      // The new file shows in the lists of its folder.
      FileListBox2->Update();
      FileListBox1->Update();
      break;
    case TSfvCreateOutcome::Halted:
      RichEdit1->append(QString());
      RichEdit1->append(QStringLiteral("User halted"));
      if (result.Summing) ShowProgress(false);
      break;
    case TSfvCreateOutcome::WriteFailed:
      ShowProgress(false);
      HandleException(std::runtime_error(Native(QStringLiteral("Cannot create file ") + SfvPath)));
      break;
  }
}

void TForm1::SelectFileSet() {
  const std::string folder = Native(AddBackslash(WorkDir));
  for (int i = 0; i < FileListBox2->Count(); ++i) {
    if (IsInFileSet(folder + Native(FileListBox2->Name(i)), Native(CmdSwitch), Native(CmdFile))) {
      FileListBox2->SetSelected(i, true);
    }
  }
}

void TForm1::CreateSfvForSet() {
  Directory95ListBox2->SetDirectory(WorkDir);
  PageControl1->setCurrentWidget(TabSheet1);
  QCoreApplication::processEvents();
  if (!DirectoryExists(Native(WorkDir))) return;
  SelectFileSet();
  QCoreApplication::processEvents();
  GradBtn1Click();
  OfferErrorReport();
}

void TForm1::OfferErrorReport() {
  if (!ErrorList.isEmpty() &&
      dialogs_->AskErrorYesNo(
          QStringLiteral("One or more files had errors. Would you like to see them?"))) {
    ShowErrorReport();
  }
}

// ------------------------------------------------------------------ error report

void TForm1::ShowErrorReport() {
  TfrmError form(*dialogs_, this);
  // The system's texts end in their own line break, which shows as an empty line.
  QString text = ErrorList.join(QLatin1Char('\n'));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  form.Memo1->setPlainText(text);
  form.LogFolder = WorkDir;
  form.exec();
}
