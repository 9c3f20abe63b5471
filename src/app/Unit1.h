#pragma once
// The main window. It owns the pages, the shared state of the workflows (working
// folder, SFV path, halt flag, error list, CRC table and read buffer), the settings and
// the command line. Workflows run on the GUI thread and let pending messages run
// between blocks and files; "&Halt" only sets Halted, which they poll.
//
// The implementation is split by page: Unit1.cpp (life cycle, layout, command line,
// shared helpers), Unit1Sfv.cpp (the two SFV pages), Unit1Rar.cpp (the two RAR pages),
// Unit1Info.cpp (Help and About), Unit1Settings.cpp (settings file).
#include "app/IniFile.h"
#include "app/RarCommand.h"
#include "checksum/CrcEngine.h"
#include "checksum/SfvFile.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"
#include "platform/Registry.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QPainter;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QTabWidget;
class QTextEdit;
class QTimer;
class TDirectory95ListBox;
class TDrive95ComboBox;
class TFileListBox;
class TFilterComboBox;
class TFriendlyStatusBar;
class TGradBtn;
class TProgressCyl;
class TRadioGroup;
class TASLink;
class TBrowseDirectoryDlg;
class TUnRar;
class TZipCommon;
struct TBrowseItem;

// What the window needs from outside; tests hand in their own.
struct TFormServices {
  TProgramPaths Paths;
  IDialogs* Dialogs = nullptr;           // nullptr: the window's own Qt dialogs
  const IClock* Clock = nullptr;         // nullptr: the system clock
  QStringList Arguments;                 // the command line without the program name
  std::function<std::unique_ptr<IRegistry>()> Registry;  // empty: the desktop's own
  std::string UnRarLibraryDir;  // where libunrar.so is looked for first; empty: the program's folder
};

class TForm1 : public QMainWindow {
  Q_OBJECT
public:
  explicit TForm1(TFormServices services, QWidget* parent = nullptr);
  ~TForm1() override;

  // ---- shared helpers
  static QString AddBackslash(const QString& path);
  static QString LongPathName(const QString& path);
  static QString SystemErrorText(int code);
  static double Percent(double done, double total);
  void LayoutWindow();
  void ShowErrorReport();
  // Asks "... Would you like to see them?" when the error list holds lines, and shows it on Yes.
  void OfferErrorReport();
  // After a finished check: hands the set's archive to extraction when "Unrar after SFV"
  // is on (asking first when files failed), else offers the error report.
  void AfterCheck();

  // ---- the CRC-32 engine, driven with the window's buffer, progress bar and halt flag
  void BuildCrcTable();
  std::uint32_t FileCrc(const QString& path);

  // ---- settings
  void LoadSettings();
  void SaveSettings();

  // ---- handlers
  void FormCreate();
  void FormDestroy();
  void FormResize();
  void PageControl1Change();
  void Panel5Resize();
  void Timer1Timer();
  void Timer2Timer();
  void GradBtn1Click();  // "&Create"
  void GradBtn2Click();  // "&Halt" of "Create SFV File"
  void GradBtn3Click();  // "Clear Results" of "Create SFV File"
  void GradBtn4Click();  // every "E&xit"
  void GradBtn5Click();  // "&Validate"
  void GradBtn6Click();  // "&Halt" of the other pages
  void GradBtn7Click();  // "Clear Results" of "Validate SFV file"
  // "&UnRar"; virtual so that the hand-over from a check can be watched in tests.
  virtual void GradBtn9Click();
  void GradBtn11Click(); // "Clear results" of "UnRar"
  void GradBtn13Click(); // "&Create Rar"
  void GradBtn15Click(); // "Clear Options"
  void FileListBox1DblClick();
  void FileListBox3DblClick();
  void Directory95ListBox2Change();
  void Directory95ListBox4Change();
  void chkBoxPasswordClick();
  void ChkBoxEncryptClick();
  void Panel41Click();
  void Panel42Click();
  void AssociatewithSFVfiles1Click();
  void RegisterFileTypes();
  void ASLink1Click();
  void Copyall1Click(QAction* item);
  void CopyResults(int tag);
  // Draws one item of the validation list: coloured by the words it holds, the name
  // and the status at the name column.
  void ListBox1DrawItem(QPainter* painter, int index, const QRect& rect, bool selected);

  // ---- workflows that pages and timers hand over to
  // The check engine. False when the SFV file could not be opened (nothing was checked).
  bool ValidateSfv(const QString& path);
  void SelectFileSet();
  // Hands the checked set's archive to extraction: the archive named like the SFV, else
  // the first volume among the SFV's entries; says so when there is none.
  void UnrarAfterCheck();
  // Shows an archive selected on the "UnRar" page (its folder, a filter that lists it);
  // false when the page cannot list it.
  bool SelectUnRarArchive(const QString& path);
  void FillStorePaths(const QString& folder);
  // ---- the "UnRar" page
  bool CheckRarVersion(const QString& archive);
  void UnRar1Activate(TZipCommon* Sender);
  void UnRar1Begin(TZipCommon* Sender, const std::string& FileName, std::int32_t Count, bool& Extract);
  void UnRar1Progress(TZipCommon* Sender, std::uint8_t ProgressByFile, std::uint8_t ProgressByArchive);
  void UnRar1NextVolume(TZipCommon* Sender, std::string& VolumeName, const std::string& VolumeID,
                        bool fExists, bool& Cancel);
  void UnRar1Error(TZipCommon* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                   const std::string& VolumeID, std::int32_t ECode);
  // Asks for the password of an encrypted entry, or of an archive whose headers are encrypted,
  // in a masked input box titled with the file's name. The answer is kept for the following
  // entries and for the extraction after the version check, until the press of "&UnRar" ends;
  // Cancel skips the archive's encrypted entries.
  void UnRar1GetPassword(TZipCommon* Sender, const std::string& FileName, std::string& Password, bool& TryAgain);
  void BrowseDirectoryDlg1Create(TBrowseDirectoryDlg* Sender);
  void BrowseDirectoryDlg1SelChanged(TBrowseDirectoryDlg* Sender, const QString& NewSel,
                                     const TBrowseItem& NewSelPIDL);
  void BrowseDirectoryDlg1ValidateFailed(TBrowseDirectoryDlg* Sender, const QString& Path, bool& Cancel);
  // The "Create RAR" workflow's steps: the list file in the data folder, the archiver's
  // switches as text, and running the archiver (found beside the program or on PATH)
  // with the data folder as its working folder while the window keeps running.
  // The archiver's output moves the status label and the bar while it runs; "&Halt"
  // terminates it and kills it after RarKillGraceMs; its standard input is empty.
  void WriteRarList();
  QString BuildRarCommand(const QString& archivePath);
  TRarRun RunRar(const QStringList& arguments);
  TRarRun RunAndWait(const QString& program, const QStringList& arguments);
  static constexpr int RarKillGraceMs = 3000;
  // The SFV of a new archive's set: made now, or queued until the SFV workflow that is
  // running has ended.
  void RequestSfvForSet(const QString& folder, const QString& archive);

  // The default handler for errors a workflow does not catch: a message box with the
  // error's text; the program carries on.
  void HandleException(const std::exception& error);

  // Marks an SFV workflow as running: its page's start controls and the other SFV page's
  // start button are disabled, so that no second read starts while one runs.
  void BeginWorkflow(const QList<QWidget*>& ownControls);
  void EndWorkflow(const QList<QWidget*>& ownControls);
  bool WorkflowRunning() const { return workflowRunning_; }
  // Shows the progress bar and switches the size grip off, or the other way round.
  void ShowProgress(bool show);
  void CreateSfvForSet();

  IDialogs& Dialogs() { return *dialogs_; }
  const TFormServices& Services() const { return services_; }

  // ---- fields
  TCrcTable CrcTable{};
  // Page-aligned: the kernel copies into an aligned buffer markedly faster. One chunk of
  // reading; the engine still sums and shows it in 16 KiB blocks.
  alignas(4096) std::array<std::uint8_t, CrcReadChunkSize> ReadBuffer{};
  QStringList ErrorList;
  QString WorkDir;
  QString SfvPath;
  bool Halted = false;
  bool ListReady = false;
  int NameColumnWidth = 0;
  int StartWidth = 0;
  std::uint32_t LastError = 0;
  int FileError = -1;
  long double TotalBytes = 0;
  long double CurrentFileSize = 0;
  QString CmdSwitch;
  QString CmdFile;
  std::unique_ptr<TIniFile> IniFile;
  QString IniPath;
  int NewNameType = 1;
  int VolumeLevel = 6;
  int CompressionLevel = 3;
  bool CreateSFX = false;
  bool Encrypt = false;
  bool AutoCreateSFV = false;
  bool UnrarAfterSFV = false;
  QString VersionText;
  QString StatusTitle;
  QString ExeName;
  QString ExeDir;
  QString VolumeSwitch;
  bool RarVersionOk = true;
  QString UnrarSubfolder;
  QString UnrarTarget;
  QPointer<QLineEdit> BrowseEditHandle;  // the open folder dialog's edit box
  QString CurrentVolume;
  std::unique_ptr<TUnRar> UnRar1;
  TBrowseDirectoryDlg* BrowseDirectoryDlg1 = nullptr;

  // ---- controls
  QTabWidget* PageControl1 = nullptr;
  QWidget* TabSheet1 = nullptr;  // "Create SFV File"
  QWidget* TabSheet2 = nullptr;  // "Validate SFV file"
  QWidget* TabSheet6 = nullptr;  // "Create RAR"
  QWidget* TabSheet5 = nullptr;  // "UnRar"
  QWidget* TabSheet3 = nullptr;  // "Help"
  QWidget* TabSheet4 = nullptr;  // "About"
  QFrame* Panel7 = nullptr;
  QFrame* Panel8 = nullptr;
  QFrame* Panel20 = nullptr;
  QFrame* Panel36 = nullptr;
  TGradBtn* GradBtn1 = nullptr;   // "&Create"
  TGradBtn* GradBtn2 = nullptr;   // "&Halt"
  TGradBtn* GradBtn3 = nullptr;   // "Clear Results"
  TGradBtn* GradBtn4 = nullptr;   // "E&xit"
  TGradBtn* GradBtn5 = nullptr;   // "&Validate"
  TGradBtn* GradBtn6 = nullptr;   // "&Halt"
  TGradBtn* GradBtn7 = nullptr;   // "Clear Results"
  TGradBtn* GradBtn8 = nullptr;   // "E&xit"
  TGradBtn* GradBtn9 = nullptr;   // "&UnRar"
  TGradBtn* GradBtn10 = nullptr;  // "&Halt"
  TGradBtn* GradBtn11 = nullptr;  // "Clear results"
  TGradBtn* GradBtn12 = nullptr;  // "E&xit"
  TGradBtn* GradBtn13 = nullptr;  // "&Create Rar"
  TGradBtn* GradBtn14 = nullptr;  // "&Halt"
  TGradBtn* GradBtn15 = nullptr;  // "Clear Options"
  TGradBtn* GradBtn16 = nullptr;  // "E&xit"

  TDrive95ComboBox* Drive95ComboBox1 = nullptr;
  TDrive95ComboBox* Drive95ComboBox2 = nullptr;
  TDrive95ComboBox* Drive95ComboBox3 = nullptr;
  TDrive95ComboBox* Drive95ComboBox4 = nullptr;
  TDirectory95ListBox* Directory95ListBox1 = nullptr;
  TDirectory95ListBox* Directory95ListBox2 = nullptr;
  TDirectory95ListBox* Directory95ListBox3 = nullptr;
  TDirectory95ListBox* Directory95ListBox4 = nullptr;
  TFileListBox* FileListBox1 = nullptr;
  TFileListBox* FileListBox2 = nullptr;
  TFileListBox* FileListBox3 = nullptr;
  TFileListBox* FileListBox4 = nullptr;
  TFilterComboBox* FilterComboBox1 = nullptr;
  TFilterComboBox* FilterComboBox2 = nullptr;

  // "Create SFV File"
  QGroupBox* GroupBox4 = nullptr;
  QTextEdit* RichEdit1 = nullptr;
  QWidget* Panel38 = nullptr;
  QWidget* Panel5 = nullptr;
  TRadioGroup* rdogrpFilename = nullptr;
  QLineEdit* Edit2 = nullptr;
  // "Validate SFV file"
  QGroupBox* GroupBox1 = nullptr;
  QListWidget* ListBox1 = nullptr;
  QCheckBox* ChkBoxUnrarAfter = nullptr;
  QMenu* popValidate = nullptr;
  QAction* Copyselectedline1 = nullptr;
  QAction* Copyall1 = nullptr;
  // "Create RAR"
  QGroupBox* GroupBox9 = nullptr;
  QGroupBox* GroupBox11 = nullptr;
  QCheckBox* ChkBoxCreateSFV = nullptr;
  QLabel* Panel41 = nullptr;
  QCheckBox* chkBoxCreateSFX = nullptr;
  QLabel* Panel42 = nullptr;
  QCheckBox* ChkBoxEncrypt = nullptr;
  QCheckBox* chkBoxPassword = nullptr;
  QLineEdit* edtPass = nullptr;
  QLabel* Label10 = nullptr;
  QComboBox* cmbBoxPaths = nullptr;
  QLabel* Label9 = nullptr;
  QComboBox* cmbCompLevel = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* cmbVolumeSize = nullptr;
  // "UnRar"
  QGroupBox* GroupBox7 = nullptr;
  QGroupBox* GroupBox8 = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  // "Help" and "About"
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* lblCompileDate = nullptr;
  QLabel* Image1 = nullptr;
  TASLink* ASLink1 = nullptr;
  TASLink* ASLink2 = nullptr;
  TASLink* ASLink3 = nullptr;
  // status bar, menus, timers
  TFriendlyStatusBar* StatusBar1 = nullptr;
  QLabel* TallyraStatus = nullptr;
  TProgressCyl* GradProgress1 = nullptr;
  QAction* AssociatewithSFVfiles1 = nullptr;
  QAction* Exit1 = nullptr;
  QTimer* Timer1 = nullptr;
  QTimer* Timer2 = nullptr;

protected:
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  void CreateControls();
  QWidget* CreateSfvCreationPage();
  QWidget* CreateSfvCheckPage();
  QWidget* CreateRarCreationPage();
  QWidget* CreateUnRarPage();
  QWidget* CreateHelpPage();
  QWidget* CreateAboutPage();
  QFrame* CreateButtonBar(const std::array<TGradBtn**, 4>& buttons,
                          const std::array<QString, 4>& captions);
  QWidget* CreatePicker(TDrive95ComboBox*& drive, TDirectory95ListBox*& folders,
                        TFileListBox*& files, TFilterComboBox** filter);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void CreateStatusBar();
  void CreateMenus();
  void ConnectHandlers();
  void SetProgressPosition(int position);
  void RunPendingSfvStep();
  std::deque<std::function<void()>> pendingSfvSteps_;

  TFormServices services_;
  std::unique_ptr<IDialogs> ownDialogs_;
  IDialogs* dialogs_ = nullptr;
  const IClock* clock_ = nullptr;
  std::unique_ptr<TCrcReader> crcReader_;
  bool destroyed_ = false;
  bool workflowRunning_ = false;
  void ScrollListTop(int top);
  void InstallUnRarHandlers();
  void CreateUnRarComponents();
  bool haltLogged_ = false;  // "User halted operation" was logged for the running extraction
  std::string unfoundVolume_;  // the volume name the user gave that does not exist
  // The password the user gave for the archive of this press of "&UnRar" (never stored).
  std::string unrarPassword_;
  bool unrarPasswordOffered_ = false;  // handed to the component in the current run already
  bool unrarPasswordSkipped_ = false;  // Cancel: no more questions for this archive
  std::string unrarPasswordAskedFor_;  // the file last asked for, to say why it is asked again
  void ForgetUnrarPassword();
  void LogHalt();
  TRarOptions RarOptions();
  void InstallListBox1Drawing();
  void FitWindowToList(int extent);
  // A check's status text, "Results" caption and list position wait for the next time
  // messages run: nothing is painted before then, and set for every file of a large set
  // they cost more than the files' reads.
  struct TPendingCheckView {
    const std::vector<TSfvEntry>* Entries = nullptr;
    int Checking = -1;         // the entry being checked: status text, list position
    bool CheckingShown = true; // its item already shows more than "Checking"
    int Checked = 0, Count = 0, VisibleRows = 0;  // the caption, once an entry was judged
  } pendingCheckView_;
  void ShowPendingCheckView();
  void PumpMessages();
};
