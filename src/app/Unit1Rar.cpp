// The "Create RAR" and "UnRar" pages.
#include "app/Unit1.h"

#include "app/NativePath.h"
#include "app/RarCommand.h"
#include "app/RarOutput.h"
#include "app/WindowLayout.h"
#include "platform/FileSystem.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QProcess>
#include <QStandardPaths>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStyleOptionButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A bold, underlined word laid over the same word of a check box's caption; a click on
// it acts on the box. It is placed from the caption's own font and the style's text
// rectangle, again whenever the box's font, style or size changes: the font a box ends
// up with is known only once it sits in the window.
class TOverlayPlacer final : public QObject {
public:
  TOverlayPlacer(QCheckBox* box, QLabel* label, QString before)
      : QObject(label), box_(box), label_(label), before_(std::move(before)) {
    box->installEventFilter(this);
    Place();
  }

  void Place() {
    QStyleOptionButton option;
    option.initFrom(box_);
    option.text = box_->text();
    const QRect text = box_->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box_);
    const QFontMetrics plain(box_->font());
    QFont bold = box_->font();
    bold.setBold(true);
    bold.setUnderline(true);
    label_->setFont(bold);
    const QFontMetrics metrics(bold);
    // The caption is drawn left-aligned and centred up and down in the text rectangle;
    // the word's baseline is kept.
    const int top = text.top() + (text.height() - plain.height()) / 2 + plain.ascent() - metrics.ascent();
    const int left = text.left() + plain.horizontalAdvance(before_);
    label_->setGeometry(left, top, metrics.horizontalAdvance(label_->text()) + 1, metrics.height());
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::FontChange:
      case QEvent::StyleChange:
      case QEvent::Resize:
      case QEvent::Show:
      case QEvent::Polish:
        if (watched == box_) Place();
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

private:
  QCheckBox* box_;
  QLabel* label_;
  QString before_;
};

QLabel* OverlayWord(QCheckBox* box, const QString& before, const QString& word) {
  auto* label = new QLabel(word, box);
  label->setMargin(0);
  label->setIndent(0);
  label->setContentsMargins(0, 0, 0, 0);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  label->setAutoFillBackground(true);
  label->setCursor(Qt::PointingHandCursor);
  new TOverlayPlacer(box, label, before);
  return label;
}

void SetPasswordBox(QLineEdit* edit, bool enabled) {
  // Disabled, it takes the button face's colour so it reads as unavailable.
  QPalette pal = edit->palette();
  pal.setColor(QPalette::Base, edit->palette().color(enabled ? QPalette::Window : QPalette::Button));
  if (enabled) pal = QPalette();
  edit->setPalette(pal);
  edit->setEnabled(enabled);
}

}  // namespace

QWidget* TForm1::CreateRarCreationPage() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  Panel36 = CreateButtonBar({&GradBtn13, &GradBtn14, &GradBtn15, &GradBtn16},
                            {QStringLiteral("&Create Rar"), QStringLiteral("&Halt"),
                             QStringLiteral("Clear Options"), QStringLiteral("E&xit")});
  column->addWidget(Panel36);

  auto* body = new QHBoxLayout;
  GroupBox9 = new QGroupBox(QStringLiteral("Select files to compress"));
  auto* pickerLayout = new QVBoxLayout(GroupBox9);
  pickerLayout->setContentsMargins(4, 4, 4, 4);
  pickerLayout->addWidget(CreatePicker(Drive95ComboBox4, Directory95ListBox4, FileListBox4, nullptr));
  FileListBox4->SetMultiSelect(true);
  body->addWidget(GroupBox9, 1);

  GroupBox11 = new QGroupBox(QStringLiteral("Options"));
  auto* options = new QGridLayout(GroupBox11);
  ChkBoxCreateSFV = new QCheckBox(QStringLiteral("Create SFV  after compress"));
  chkBoxCreateSFX = new QCheckBox(QStringLiteral("Create SFX  archive"));
  ChkBoxEncrypt = new QCheckBox(QStringLiteral("Encrypt both file data and headers"));
  chkBoxPassword = new QCheckBox(QStringLiteral("Password protect"));
  edtPass = new QLineEdit;
  SetPasswordBox(edtPass, false);
  Label10 = new QLabel(QStringLiteral("Store path level:"));
  cmbBoxPaths = new QComboBox;
  Label9 = new QLabel(QStringLiteral("Compression level:"));
  cmbCompLevel = new QComboBox;
  cmbCompLevel->setEditable(true);
  cmbCompLevel->addItems({QStringLiteral("0 - Store"), QStringLiteral("1 - Fastest"),
                          QStringLiteral("2 - Fast"), QStringLiteral("3 - Normal"),
                          QStringLiteral("4 - Good"), QStringLiteral("5 - Best")});
  cmbCompLevel->setCurrentIndex(3);
  Label1 = new QLabel(QStringLiteral("Volume size:"));
  cmbVolumeSize = new QComboBox;
  cmbVolumeSize->setEditable(true);
  cmbVolumeSize->addItems({QStringLiteral("1,000,000"), QStringLiteral("2,000,000"),
                           QStringLiteral("3,000,000"), QStringLiteral("4,000,000"),
                           QStringLiteral("5,000,000"), QStringLiteral("10,000,000"),
                           QStringLiteral("15,000,000"), QStringLiteral("20,000,000")});
  cmbVolumeSize->setCurrentIndex(6);
  int row = 0;
  options->addWidget(ChkBoxCreateSFV, row++, 0, 1, 2);
  options->addWidget(chkBoxCreateSFX, row++, 0, 1, 2);
  options->addWidget(ChkBoxEncrypt, row++, 0, 1, 2);
  options->addWidget(chkBoxPassword, row, 0);
  options->addWidget(edtPass, row++, 1);
  options->addWidget(Label10, row, 0);
  options->addWidget(cmbBoxPaths, row++, 1);
  options->addWidget(Label9, row, 0);
  options->addWidget(cmbCompLevel, row++, 1);
  options->addWidget(Label1, row, 0);
  options->addWidget(cmbVolumeSize, row++, 1);
  options->setRowStretch(row, 1);
  Panel41 = OverlayWord(ChkBoxCreateSFV, QStringLiteral("Create "), QStringLiteral("SFV"));
  Panel42 = OverlayWord(chkBoxCreateSFX, QStringLiteral("Create "), QStringLiteral("SFX"));
  Panel41->installEventFilter(this);
  Panel42->installEventFilter(this);
  body->addWidget(GroupBox11, 1);
  column->addLayout(body, 1);

  connect(chkBoxPassword, &QCheckBox::clicked, this, [this] { chkBoxPasswordClick(); });
  connect(ChkBoxEncrypt, &QCheckBox::clicked, this, [this] { ChkBoxEncryptClick(); });
  connect(Directory95ListBox4, &TDirectoryListBox::Change, this, [this] { Directory95ListBox4Change(); });
  // A double-click here starts nothing: it would check the other page's selection.
  return page;
}

QWidget* TForm1::CreateUnRarPage() {
  auto* page = new QWidget;
  auto* column = new QVBoxLayout(page);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  Panel20 = CreateButtonBar({&GradBtn9, &GradBtn10, &GradBtn11, &GradBtn12},
                            {QStringLiteral("&UnRar"), QStringLiteral("&Halt"),
                             QStringLiteral("Clear results"), QStringLiteral("E&xit")});
  column->addWidget(Panel20);

  auto* body = new QHBoxLayout;
  GroupBox7 = new QGroupBox(QStringLiteral("Select .RAR file"));
  auto* pickerLayout = new QVBoxLayout(GroupBox7);
  pickerLayout->setContentsMargins(4, 4, 4, 4);
  pickerLayout->addWidget(
      CreatePicker(Drive95ComboBox3, Directory95ListBox3, FileListBox3, &FilterComboBox2));
  FileListBox3->SetFileType(ftReadOnly | ftHidden | ftSystem | ftArchive | ftNormal);
  FilterComboBox2->SetFilter(
      QStringLiteral("Rar File (*.rar)|*.rar|Rar File (*.r00)|*.r00|Rar File (*.000)|*.000|"
                     "All files (*.*)|*.*"));
  FilterComboBox2->SetFileList(FileListBox3);
  body->addWidget(GroupBox7, 1);

  GroupBox8 = new QGroupBox(QStringLiteral("Results"));
  auto* results = new QVBoxLayout(GroupBox8);
  Memo2 = new QPlainTextEdit;
  Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo2->installEventFilter(this);
  results->addWidget(Memo2);
  body->addWidget(GroupBox8, 1);
  column->addLayout(body, 1);

  connect(FileListBox3, &TFileListBox::DblClick, this, [this] { FileListBox3DblClick(); });
  return page;
}

void TForm1::FillStorePaths(const QString& folder) {
  cmbBoxPaths->clear();
  for (const std::string& item : StorePathItems(QFile::encodeName(folder).toStdString())) {
    cmbBoxPaths->addItem(QFile::decodeName(QByteArray::fromStdString(item)));
  }
  cmbBoxPaths->setCurrentIndex(0);
}

void TForm1::Directory95ListBox4Change() { FillStorePaths(Directory95ListBox4->Directory()); }

void TForm1::chkBoxPasswordClick() {
  SetPasswordBox(edtPass, chkBoxPassword->isChecked() || ChkBoxEncrypt->isChecked());
}

void TForm1::ChkBoxEncryptClick() { chkBoxPasswordClick(); }

void TForm1::Panel41Click() {
  ChkBoxCreateSFV->setFocus();
  ChkBoxCreateSFV->click();
}

void TForm1::Panel42Click() {
  chkBoxCreateSFX->setFocus();
  chkBoxCreateSFX->click();
}

void TForm1::GradBtn15Click() {
  ChkBoxCreateSFV->setChecked(false);
  chkBoxCreateSFX->setChecked(false);
  ChkBoxEncrypt->setChecked(false);
  chkBoxPassword->setChecked(false);
  SetPasswordBox(edtPass, false);
  cmbBoxPaths->setCurrentIndex(0);
  cmbCompLevel->setCurrentIndex(3);
  cmbVolumeSize->setCurrentIndex(6);
}


// ------------------------------------------------------------------ creating archives

TRarOptions TForm1::RarOptions() {
  const QString volume = QString::fromStdString(VolumeSizeText(cmbVolumeSize->currentIndex()));
  if (!volume.isEmpty()) VolumeSwitch = volume;  // no item chosen: the previous run's size
  TRarOptions options;
  options.CompressionIndex = cmbCompLevel->currentIndex();
  options.Password = chkBoxPassword->isChecked();
  options.EncryptHeaders = ChkBoxEncrypt->isChecked();
  options.Sfx = chkBoxCreateSFX->isChecked();
  options.PasswordText = edtPass->text().toStdString();
  if (cmbBoxPaths->currentIndex() > 0) options.StorePath = Native(cmbBoxPaths->currentText());
  options.VolumeSwitch = VolumeSwitch.toStdString();
  return options;
}

void TForm1::GradBtn13Click() {
  const bool sfvAfterwards = ChkBoxCreateSFV->isChecked();
  const TRarOptions options = RarOptions();
  if (FileListBox4->SelCount() < 1) {
    dialogs_->ShowMessage(QStringLiteral("No files selected to compress"));
    return;
  }
  // The archiver would ask for the missing password on a console nobody sees.
  if ((options.Password || options.EncryptHeaders) && options.PasswordText.empty()) {
    dialogs_->ShowMessage(QStringLiteral("Type a password first, or untick \"Password protect\" and "
                                         "\"Encrypt both file data and headers\""));
    return;
  }
  const QString folder = Directory95ListBox4->Directory();
  QString first;
  for (int i = 0; i < FileListBox4->Count() && first.isEmpty(); ++i) {
    if (FileListBox4->Selected(i)) first = FileListBox4->Name(i);
  }
  IDialogs::TSaveRequest request;
  request.Title = QStringLiteral("Save RAR File");
  request.Filter = QStringLiteral("Rar Files (*.rar)|*.rar|All Files (*.*)|*.*");
  request.DefaultExt = QStringLiteral("rar");
  request.InitialDir = folder;
  request.FileName = FromNative(ChangeFileExt(Native(AddBackslash(folder) + first), ".rar"));
  request.PromptOverwrite = false;
  const std::optional<QString> chosen = dialogs_->SaveFile(request);
  if (!chosen) return;

  const QString archive = FromNative(ChangeFileExt(Native(*chosen), ".rar"));
  CmdFile = archive;
  try {
    WriteRarList();
  } catch (const std::exception& error) {
    HandleException(error);  // no list, no archiver, no SFV
    return;
  }
  QStringList arguments;
  for (const std::string& a : BuildRarArguments(options, Native(archive))) arguments << FromNative(a);
  // One archiver at a time: a second run would rewrite the list file under the first.
  GradBtn13->setEnabled(false);
  const TRarRun run = RunRar(arguments);
  GradBtn13->setEnabled(true);

  // An SFV only after a run that succeeded and left its archive: a failed run may leave
  // nothing, or an older archive of the same name that must not replace a good SFV.
  const QString problem = FromLocal(
      RarRunProblem(run, Native(archive), ArchiveWritten(Native(archive), options.Sfx)));
  if (!problem.isEmpty()) {
    TallyraStatus->setText(problem);
    // The missing archiver had its own message; a halt is what the user asked for.
    if (run.Outcome != TRarOutcome::Missing && run.Outcome != TRarOutcome::Halted) {
      QString text = problem;
      if (!run.LastLine.empty()) text += QLatin1Char('\n') + FromLocal(run.LastLine);
      if (sfvAfterwards) text += QStringLiteral("\nNo SFV file was created.");
      dialogs_->ShowMessage(text);
    }
    return;
  }
  if (!sfvAfterwards) return;
  RequestSfvForSet(FromNative(ExtractFilePath(Native(*chosen))), archive);
}

void TForm1::RequestSfvForSet(const QString& folder, const QString& archive) {
  auto step = [this, folder, archive] {
    WorkDir = folder;
    CmdFile = archive;
    CreateSfvForSet();
  };
  if (!workflowRunning_) {
    step();
    return;
  }
  // The archiver ran while a check or a creation was summing files; the new set's SFV
  // follows once that has ended.
  pendingSfvSteps_.push_back(step);
  TallyraStatus->setText(QStringLiteral("The SFV file of ") + QFileInfo(archive).fileName() +
                         QStringLiteral(" follows when the running SFV work ends"));
}

void TForm1::RunPendingSfvStep() {
  if (pendingSfvSteps_.empty()) return;
  // Not inside another workflow's question or the folder dialog either.
  if (workflowRunning_ || QApplication::activeModalWidget() != nullptr) {
    QTimer::singleShot(100, this, [this] { RunPendingSfvStep(); });
    return;
  }
  const std::function<void()> step = pendingSfvSteps_.front();
  pendingSfvSteps_.pop_front();
  step();
}

void TForm1::WriteRarList() {
  const std::string folder = Native(AddBackslash(Directory95ListBox4->Directory()));
  std::vector<std::string> paths;
  for (int i = 0; i < FileListBox4->Count(); ++i) {
    if (FileListBox4->Selected(i)) paths.push_back(folder + Native(FileListBox4->Name(i)));
  }
  ForceDirectories(services_.Paths.DataDir);
  const std::string listFile = services_.Paths.DataFile(RarListName);
  if (ReplaceFileContents(listFile, RarListText(paths)) != 0) {
    throw std::runtime_error("Cannot create file " + listFile);
  }
}

QString TForm1::BuildRarCommand(const QString& archivePath) {
  return FromNative(::BuildRarCommand(RarOptions(), Native(archivePath)));
}

TRarRun TForm1::RunRar(const QStringList& arguments) {
  QString archiver = QStandardPaths::findExecutable(QLatin1String(RarArchiverName), {ExeDir});
  if (archiver.isEmpty()) archiver = QStandardPaths::findExecutable(QLatin1String(RarArchiverName));
  if (archiver.isEmpty()) {
    dialogs_->ShowMessage(QStringLiteral("rar Not found") + QLatin1Char('\n') +
                          QStringLiteral("This file MUST be in the same directory as Tallyra ") +
                          QLatin1Char('\n') +
                          QStringLiteral("Go to Tallyra Homepage and download it.") + QLatin1Char('\n'));
    return {};
  }
  return RunAndWait(archiver, arguments);
}

TRarRun TForm1::RunAndWait(const QString& program, const QStringList& arguments) {
  // The archiver works in the data folder, where it finds its list file; the window
  // keeps handling messages until it has ended, and shows what it prints.
  TRarRun run;
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  // Nothing is ever typed to it: a question it asks ends at once instead of never.
  process.setStandardInputFile(QProcess::nullDevice());
  process.setWorkingDirectory(FromNative(services_.Paths.DataDir));
  TRarOutputParser output;
  auto readOutput = [&] {
    output.Feed(process.readAllStandardOutput().toStdString());
    if (!output.Step().empty()) TallyraStatus->setText(FromLocal(output.Step()));
    if (output.Percent() >= 0) SetProgressPosition(output.Percent());
  };
  QEventLoop loop;
  connect(&process, &QProcess::readyReadStandardOutput, &loop, readOutput);
  connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
  // "&Halt" only sets the flag; stopping is ours: a terminate, then a kill for an
  // archiver that does not listen.
  bool halting = false;
  QTimer haltWatch;
  haltWatch.setInterval(50);
  connect(&haltWatch, &QTimer::timeout, &loop, [&] {
    if (!Halted || halting) return;
    halting = true;
    process.terminate();
    QTimer::singleShot(RarKillGraceMs, &process, [&process] { process.kill(); });
  });

  Halted = false;  // a halt left by an earlier operation does not stop this one
  SetProgressPosition(0);
  ShowProgress(true);
  process.start(program, arguments);
  if (!process.waitForStarted()) {
    ShowProgress(false);
    run.Outcome = TRarOutcome::NotStarted;
    run.LastLine = Native(process.errorString());
    return run;
  }
  haltWatch.start();
  if (process.state() != QProcess::NotRunning) loop.exec();
  haltWatch.stop();
  readOutput();
  ShowProgress(false);
  run.LastLine = output.LastLine();
  if (halting) {
    run.Outcome = TRarOutcome::Halted;
  } else if (process.exitStatus() == QProcess::CrashExit) {
    run.Outcome = TRarOutcome::Crashed;
  } else {
    run.Outcome = TRarOutcome::Exited;
    run.ExitCode = process.exitCode();
  }
  return run;
}
