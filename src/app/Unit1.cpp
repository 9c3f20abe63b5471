#include "app/Unit1.h"

#include "app/CommandLine.h"
#include "app/NativePath.h"
#include "app/Settings.h"
#include "app/Version.h"
#include "app/WindowLayout.h"
#include "archive/aknUnRar.h"
#include "checksum/skdebug.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "controls/RadioGroup.h"
#include "controls/frstatus.h"
#include "platform/FileSystem.h"
#include "platform/QtDialogs.h"
#include "platform/SystemError.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>


TForm1::TForm1(TFormServices services, QWidget* parent)
    : QMainWindow(parent), services_(std::move(services)) {
  if (services_.Dialogs == nullptr) {
    ownDialogs_ = std::make_unique<TQtDialogs>(this);
    dialogs_ = ownDialogs_.get();
  } else {
    dialogs_ = services_.Dialogs;
  }
  clock_ = services_.Clock != nullptr ? services_.Clock : &SystemClock();
  crcReader_ = std::make_unique<TCrcReader>(ReadBuffer, *clock_);

  setWindowTitle(QStringLiteral("Tallyra"));
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPixelSize(11);
  setFont(font);
  resize(613, 394);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  CreateControls();
  FormCreate();
}

TForm1::~TForm1() {
  DoneUnRarLibrary();
  if (!destroyed_) {
    // A window destroyed without being closed (tests, a session ending) still keeps
    // its settings; there is nobody left to show an error to.
    try {
      FormDestroy();
    } catch (const std::exception&) {
    }
  }
}

// ------------------------------------------------------------------ controls

void TForm1::CreateControls() {
  PageControl1 = new QTabWidget(this);
  TabSheet1 = CreateSfvCreationPage();
  TabSheet2 = CreateSfvCheckPage();
  TabSheet6 = CreateRarCreationPage();
  TabSheet5 = CreateUnRarPage();
  TabSheet3 = CreateHelpPage();
  TabSheet4 = CreateAboutPage();
  PageControl1->addTab(TabSheet1, QStringLiteral("Create SFV File"));
  PageControl1->addTab(TabSheet2, QStringLiteral("Validate SFV file"));
  PageControl1->addTab(TabSheet6, QStringLiteral("Create RAR"));
  PageControl1->addTab(TabSheet5, QStringLiteral("UnRar"));
  PageControl1->addTab(TabSheet3, QStringLiteral("Help"));
  PageControl1->addTab(TabSheet4, QStringLiteral("About"));
  PageControl1->setCurrentWidget(TabSheet1);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(PageControl1, 1);
  CreateStatusBar();
  layout->addWidget(StatusBar1);
  setCentralWidget(central);

  CreateMenus();

  Timer1 = new QTimer(this);
  Timer1->setInterval(500);
  Timer1->setSingleShot(false);  // it disables itself first thing
  Timer2 = new QTimer(this);
  Timer2->setInterval(2000);

  CreateUnRarComponents();
  ConnectHandlers();
}

QFrame* TForm1::CreateButtonBar(const std::array<TGradBtn**, 4>& buttons,
                                const std::array<QString, 4>& captions) {
  auto* bar = new QFrame;
  bar->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  bar->setFixedHeight(38);
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    // The form's stored values, shared by all sixteen but for lefts and widths, which
    // LayoutWindow replaces at once.
    static constexpr int lefts[] = {8, 152, 232, 422}, widths[] = {137, 75, 105, 75};
    auto* button = new TGradBtn(captions[i], bar);
    button->setGeometry(lefts[i], 2, widths[i], 33);
    button->SetBeginColor(13553358);
    button->SetBtnHiliteClr(clWhite);
    button->SetBtnShadowClr(clBlack);
    button->SetEndColor(6250335);
    QFont font(QStringLiteral("Microsoft Sans Serif"));
    font.setPixelSize(13);
    font.setBold(true);
    button->setFont(font);
    button->SetFontColor(clBlack);
    button->SetGradientStyle(gsVertical);
    button->SetPresets(Aluminum);  // no effect outside design mode; the values above hold
    button->SetTextShadeType(stHeavy);
    button->SetTextStyle(tsInset);
    button->setFocusPolicy(Qt::StrongFocus);
    *buttons[i] = button;
  }
  bar->installEventFilter(this);
  return bar;
}

QWidget* TForm1::CreatePicker(TDrive95ComboBox*& drive, TDirectory95ListBox*& folders,
                              TFileListBox*& files, TFilterComboBox** filter) {
  auto* picker = new QWidget;
  auto* column = new QVBoxLayout(picker);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  auto* top = new QWidget;
  top->setFixedHeight(30);
  drive = new TDrive95ComboBox(top);
  drive->setGeometry(0, 4, 152, 22);
  column->addWidget(top);
  auto* lists = new QHBoxLayout;
  lists->setSpacing(2);
  folders = new TDirectory95ListBox;
  folders->SetItemHeight(17);
  files = new TFileListBox;
  lists->addWidget(folders, 1);
  lists->addWidget(files, 1);
  column->addLayout(lists, 1);
  if (filter != nullptr) {
    *filter = new TFilterComboBox;
    column->addWidget(*filter);
  }
  drive->SetDirList(folders);
  folders->SetFileList(files);
  return picker;
}

void TForm1::CreateStatusBar() {
  StatusBar1 = new TFriendlyStatusBar;
  StatusBar1->SetPanelWidths({200, 50});
  TallyraStatus = new QLabel(QStringLiteral("TallyraStatus"), StatusBar1);
  TallyraStatus->move(4, 4);
  TallyraStatus->resize(70, 13);
  // The stored values, applied in their stored (alphabetical) order: the preset comes
  // after the colours and styles it repeats, and the frame settings survive it.
  GradProgress1 = new TProgressCyl(StatusBar1);
  GradProgress1->SetBackBorderColor(clBlack);
  GradProgress1->SetBackColor(clWhite);
  for (TPCColorStyle* style : {&GradProgress1->BackStyle(), &GradProgress1->ForeStyle()}) {
    style->SetIntensityRGB(-100);
    style->SetIntensity(4);
    style->SetIntensityFactor(-1.7f);
    style->SetRangeRGB(-100);
    style->SetColorRGB(-100);
    style->SetColorFactor(-1);
    style->SetLightAngle(-1.5f);
  }
  GradProgress1->SetBevelColor(clBtnFace);
  GradProgress1->SetBevelInner(bvLowered);
  GradProgress1->SetBevelOuter(bvNone);
  GradProgress1->SetBevelWidth(1);
  GradProgress1->SetBorderWidth(0);
  GradProgress1->SetColor(clBtnFace);
  GradProgress1->SetCylinderEffect(ceMaximum);
  QFont barFont(QStringLiteral("Arial"));
  barFont.setPixelSize(12);
  barFont.setBold(true);
  GradProgress1->setFont(barFont);
  GradProgress1->SetFontColor(Qt::black);
  GradProgress1->SetFontEffect(feShadowBottomRight);
  GradProgress1->SetFontOrientation(foLeftToRight);
  GradProgress1->SetFontShadowColor(clBtnFace);
  GradProgress1->SetForeColor(8506623);
  GradProgress1->SetForeLineColor(clBlack);
  GradProgress1->setGeometry(304, 0, 150, 22);
  GradProgress1->SetMax(100);
  GradProgress1->SetOrientation(pbHorizontal);
  GradProgress1->SetPosition(55);
  GradProgress1->SetProEffect(peMetalGold);
  GradProgress1->SetShowText(true);
  GradProgress1->SetText(QStringLiteral("%"));
  GradProgress1->SetTextDone(QStringLiteral("Done"));
  GradProgress1->SetStep(1);
  GradProgress1->SetStopAtMax(true);
  GradProgress1->hide();
}

void TForm1::CreateMenus() {
  QMenu* file1 = menuBar()->addMenu(QStringLiteral("&File"));
  AssociatewithSFVfiles1 = file1->addAction(QStringLiteral("&Associate with .SFV files"));
  file1->addSeparator();
  Exit1 = file1->addAction(QStringLiteral("E&xit"));
}

void TForm1::ConnectHandlers() {
  connect(PageControl1, &QTabWidget::currentChanged, this, [this] { PageControl1Change(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  connect(Timer2, &QTimer::timeout, this, [this] { Timer2Timer(); });
  connect(AssociatewithSFVfiles1, &QAction::triggered, this, [this] { AssociatewithSFVfiles1Click(); });
  connect(Exit1, &QAction::triggered, this, [this] { GradBtn4Click(); });

  const std::pair<TGradBtn*, void (TForm1::*)()> clicks[] = {
      {GradBtn1, &TForm1::GradBtn1Click},   {GradBtn2, &TForm1::GradBtn2Click},
      {GradBtn3, &TForm1::GradBtn3Click},   {GradBtn4, &TForm1::GradBtn4Click},
      {GradBtn5, &TForm1::GradBtn5Click},   {GradBtn6, &TForm1::GradBtn6Click},
      {GradBtn7, &TForm1::GradBtn7Click},   {GradBtn8, &TForm1::GradBtn4Click},
      {GradBtn9, &TForm1::GradBtn9Click},   {GradBtn10, &TForm1::GradBtn6Click},
      {GradBtn11, &TForm1::GradBtn11Click}, {GradBtn12, &TForm1::GradBtn4Click},
      {GradBtn13, &TForm1::GradBtn13Click}, {GradBtn14, &TForm1::GradBtn6Click},
      {GradBtn15, &TForm1::GradBtn15Click}, {GradBtn16, &TForm1::GradBtn4Click},
  };
  for (const auto& [button, handler] : clicks) {
    connect(button, &TGradBtn::clicked, this, [this, handler = handler] { (this->*handler)(); });
  }
}

// ------------------------------------------------------------------ life cycle

void TForm1::FormCreate() {
  ExeName = FromNative(services_.Paths.ExeName);
  ExeDir = FromNative(services_.Paths.ExeDir);

  LoadSettings();
  // The RAR extraction library, from the program's folder first.
  InitUnRarLibrary(services_.UnRarLibraryDir.empty() ? services_.Paths.ExeDir : services_.UnRarLibraryDir);

  VersionText = QString::fromStdString(FormatVersionText(ProgramVersion()));
  Label7->setText(VersionText);
  StatusTitle = QStringLiteral("Tallyra ") + VersionText;
  lblCompileDate->setText(QString::fromStdString(FormatBuildDate(BuildEpoch())));
  TallyraStatus->setText(StatusTitle);

  StartWidth = width();
  ErrorList.clear();
  BuildCrcTable();

  const QStringList& args = services_.Arguments;
  CmdSwitch = args.value(0);
  CmdFile = args.value(1);
  GradProgress1->hide();

  const TStartPlan plan = DispatchCommandLine(Native(CmdSwitch), Native(CmdFile));
  if (plan.Request != TStartRequest::None) {
    CmdFile = FromNative(plan.CmdFile);
    WorkDir = FromNative(plan.WorkDir);
  }
  if (plan.Request == TStartRequest::Check) {
    Directory95ListBox1->SetDirectory(plan.WorkDir.empty() ? QFileInfo(CmdFile).absolutePath()
                                                           : WorkDir);
    PageControl1->setCurrentWidget(TabSheet2);
    Timer1->start();
  } else if (plan.Request == TStartRequest::Create) {
    Directory95ListBox2->SetDirectory(WorkDir);
    PageControl1->setCurrentWidget(TabSheet1);
    Timer2->start();
  }

  if (!DirectoryExists(Native(WorkDir))) WorkDir = ExeDir;
  FillStorePaths(WorkDir);
}

void TForm1::FormDestroy() {
  destroyed_ = true;
  SaveSettings();
  ErrorList.clear();
  IniFile.reset();
}

void TForm1::closeEvent(QCloseEvent* event) {
  // A workflow running inside a handler stops at its next block instead of going on
  // unseen after the window has gone.
  Halted = true;
  if (!destroyed_) {
    try {
      FormDestroy();
    } catch (const std::exception& error) {
      HandleException(error);
    }
  }
  event->accept();
}

void TForm1::HandleException(const std::exception& error) {
  dialogs_->ShowException(QString::fromLocal8Bit(error.what()));
}

void TForm1::GradBtn4Click() { close(); }
void TForm1::GradBtn2Click() { Halted = true; }
void TForm1::GradBtn6Click() { Halted = true; }

void TForm1::Timer1Timer() {
  Timer1->stop();
  if (!FileExists(Native(CmdFile))) return;
  GradProgress1->show();
  WorkDir = FromNative(ExtractFilePath(Native(CmdFile)));
  Directory95ListBox1->SetDirectory(WorkDir);
  FileListBox1->SetFileName(CmdFile);
  SfvPath = FileListBox1->FileName();
  Halted = false;  // a halt left by an earlier operation does not stop this check
  const bool checked = ValidateSfv(CmdFile);
  QCoreApplication::processEvents();
  if (checked && !Halted) AfterCheck();
}

void TForm1::Timer2Timer() {
  Timer2->stop();
  if (!DirectoryExists(Native(WorkDir))) return;
  QCoreApplication::processEvents();
  SelectFileSet();
  GradBtn1Click();
  OfferErrorReport();
}

// ------------------------------------------------------------------ layout

void TForm1::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  // Qt lays pages out after the window's own resize; the bars report their final width.
  if (event->type() == QEvent::MouseButtonRelease) {
    if (watched == Panel41) Panel41Click();
    if (watched == Panel42) Panel42Click();
  } else if (event->type() == QEvent::KeyPress && watched == Memo2) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;  // no line breaks typed
  } else if (event->type() == QEvent::Move && watched == rdogrpFilename->Button(2)) {
    Panel5Resize();
  } else if (event->type() == QEvent::Resize) {
    if (watched == Panel7 || watched == Panel8 || watched == Panel20 || watched == Panel36) {
      LayoutWindow();
    } else if (watched == Panel5 || watched == Panel38 || watched == rdogrpFilename->Button(2)) {
      Panel5Resize();
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FormResize() { LayoutWindow(); }
void TForm1::PageControl1Change() { LayoutWindow(); }

void TForm1::LayoutWindow() {
  const std::pair<QFrame*, std::array<TGradBtn*, 4>> bars[] = {
      {Panel7, {GradBtn1, GradBtn2, GradBtn3, GradBtn4}},
      {Panel8, {GradBtn5, GradBtn6, GradBtn7, GradBtn8}},
      {Panel20, {GradBtn9, GradBtn10, GradBtn11, GradBtn12}},
      {Panel36, {GradBtn13, GradBtn14, GradBtn15, GradBtn16}},
  };
  for (const auto& [bar, buttons] : bars) {
    const auto spans = ButtonBarLayout(bar->width());
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      // Only lefts and widths follow the bar; tops and heights keep their stored values.
      buttons[i]->setGeometry(spans[i].Left, buttons[i]->y(), spans[i].Width, buttons[i]->height());
    }
  }
  const TStatusLayout status = StatusBarLayout(width());
  StatusBar1->SetPanelWidths({status.Panel0, status.Panel1});
  GradProgress1->setGeometry(status.Progress.Left, 0, status.Progress.Width, 22);
  // The label spans its panel, so a new text never has to be measured to be shown.
  TallyraStatus->setGeometry(4, 4, std::max(70, status.Panel0 - 8),
                             std::max(13, TallyraStatus->fontMetrics().height()));
}

void TForm1::Panel5Resize() {
  rdogrpFilename->setGeometry(0, 0, Panel5->width(), Panel5->height());
  // Beside the "Custom name" item at 104, or further right when a wider font needs it;
  // the right edge stays 7 pixels inside the group either way.
  const QWidget* custom = rdogrpFilename->Button(2);
  const int left = std::max(104, custom->x() + custom->sizeHint().width() + 4);
  Edit2->resize(rdogrpFilename->width() - 111 - (left - 104), Edit2->height());
  Edit2->move(left, custom->geometry().center().y() - Edit2->height() / 2);
  Edit2->raise();
}

// ------------------------------------------------------------------ shared helpers

QString TForm1::AddBackslash(const QString& path) {
  return FromNative(::AddBackslash(Native(path)));
}

QString TForm1::LongPathName(const QString& path) {
  return FromNative(::LongPathName(Native(path)));
}

QString TForm1::SystemErrorText(int code) { return QString::fromLocal8Bit(::SystemErrorText(code)); }

double TForm1::Percent(double done, double total) { return ::Percent(done, total); }

void TForm1::BeginWorkflow(const QList<QWidget*>& ownControls) {
  workflowRunning_ = true;
  for (QWidget* w : ownControls) w->setEnabled(false);
  GradBtn1->setEnabled(false);
  GradBtn5->setEnabled(false);
}

void TForm1::EndWorkflow(const QList<QWidget*>& ownControls) {
  workflowRunning_ = false;
  for (QWidget* w : ownControls) w->setEnabled(true);
  GradBtn1->setEnabled(true);
  GradBtn5->setEnabled(true);
  // After the handler that ran this workflow has returned.
  if (!pendingSfvSteps_.empty()) QTimer::singleShot(0, this, [this] { RunPendingSfvStep(); });
}

void TForm1::ShowProgress(bool show) {
  GradProgress1->setVisible(show);
  StatusBar1->SetSizeGrip(!show);
}

// ------------------------------------------------------------------ CRC-32

void TForm1::BuildCrcTable() { ::BuildCrcTable(CrcTable); }

void TForm1::SetProgressPosition(int position) {
  // The "%" text stays readable: white on the filled half, black on the empty one, by
  // the position about to be shown (the bar clamps it first).
  const int shown = std::clamp(position, GradProgress1->Min(), GradProgress1->Max());
  GradProgress1->SetFontColor(shown >= 50 ? Qt::white : Qt::black);
  GradProgress1->SetPosition(position);
}

std::uint32_t TForm1::FileCrc(const QString& path) {
  SetProgressPosition(0);
  CurrentFileSize = 0;
  LastError = 0;

  TCrcReadHooks hooks;
  hooks.Halted = [this] { return Halted; };
  // The bar repaints at once when its percent changes; more often than the messages run
  // it only costs time (a check of many small files would repaint it for every block).
  std::uint64_t lastShown = clock_->MilliSeconds();
  hooks.OnBlock = [this, &lastShown](int percent) {
    const std::uint64_t now = clock_->MilliSeconds();
    if (now - lastShown < TCrcReader::PumpIntervalMs) return;
    lastShown = now;
    SetProgressPosition(percent);
  };
  hooks.PumpMessages = [this] { PumpMessages(); };
  if (IsTraceSwitch(Native(CmdSwitch))) {
    hooks.Trace = [this](const std::string& line) {
      ForceDirectories(services_.Paths.DataDir);
      WriteDebugLine(services_.Paths.DataFile("debug.txt"), line);
    };
  }

  const TFileCrcResult result = crcReader_->FileCrc(Native(path), hooks);
  if (result.Sized) {
    CurrentFileSize = static_cast<long double>(result.Size);
    TotalBytes += static_cast<long double>(result.Size);
  }
  if (result.Status == TCrcStatus::Halted) return 0;  // the bar keeps its position
  if (result.Status == TCrcStatus::Failed) {
    LastError = static_cast<std::uint32_t>(result.ErrorCode);
    FileError = result.ErrorCode;
  }
  SetProgressPosition(0);
  return result.Crc;
}
