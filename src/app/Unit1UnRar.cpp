// The "UnRar" page: the version check, the folder dialog and the extraction through
// UnRar1, logged line by line in Memo2.
#include "app/NativePath.h"
#include "app/Unit1.h"
#include "archive/aknUnRarText.h"
#include "archive/aknMessages.h"
#include "archive/aknUnRar.h"
#include "controls/BrowseDr.h"
#include "controls/FilCtl95.h"
#include "controls/ProgressCyl.h"
#include "platform/FileSystem.h"
#include "platform/Wipe.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace {
QString NameOf(const QString& path) { return QFileInfo(path).fileName(); }

// The dialog's answer goes the way the component's copy goes: overwritten, then emptied.
void WipeText(QString& text) {
  WipeBytes(text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
  text.clear();
}
}  // namespace

void TForm1::CreateUnRarComponents() {
  UnRar1 = std::make_unique<TUnRar>();
  UnRar1->SetCpuType(cptAuto);
  UnRar1->PumpMessages = [] { QCoreApplication::processEvents(); };
  UnRar1->DiskManager().RetryCancelBox = [this](const std::string& text) {
    return dialogs_->AskRetryCancel(FromLocal(text));
  };
  UnRar1->OnError = [this](TZipCommon* s, const std::string& f, const std::string& m, const std::string& v,
                           std::int32_t e) { UnRar1Error(s, f, m, v, e); };
  UnRar1->OnGetPassword = [this](TZipCommon* s, const std::string& f, std::string& p, bool& t) {
    UnRar1GetPassword(s, f, p, t);
  };
  InstallUnRarHandlers();

  BrowseDirectoryDlg1 = new TBrowseDirectoryDlg(this);
  BrowseDirectoryDlg1->SetTitle(QStringLiteral("Extract To...(Directory will be created if it does not exist)"));
  BrowseDirectoryDlg1->SetRoot(idDrives);
  BrowseDirectoryDlg1->SetOptions({bfEditBox, bfNewDialogStyle, bfUseNewUI});
  BrowseDirectoryDlg1->SetShowSelectionInStatus(true);
  BrowseDirectoryDlg1->SetFolderRequired(true);  // the extraction needs a folder to write to
  BrowseDirectoryDlg1->OnCreate = [this](TBrowseDirectoryDlg* s) { BrowseDirectoryDlg1Create(s); };
  BrowseDirectoryDlg1->OnSelChanged = [this](TBrowseDirectoryDlg* s, const QString& sel, const TBrowseItem& item) {
    BrowseDirectoryDlg1SelChanged(s, sel, item);
  };
  // A typed folder that does not exist yet is taken: the extraction creates it, as the
  // dialog's title promises.
  BrowseDirectoryDlg1->OnValidateFailed = [this](TBrowseDirectoryDlg* s, const QString& path, bool& cancel) {
    BrowseDirectoryDlg1ValidateFailed(s, path, cancel);
  };
}

void TForm1::InstallUnRarHandlers() {
  UnRar1->OnActivate = [this](TZipCommon* s) { UnRar1Activate(s); };
  UnRar1->OnBegin = [this](TZipCommon* s, const std::string& f, std::int32_t c, bool& x) { UnRar1Begin(s, f, c, x); };
  UnRar1->OnNextVolume = [this](TZipCommon* s, std::string& n, const std::string& id, bool e, bool& c) {
    UnRar1NextVolume(s, n, id, e, c);
  };
  UnRar1->OnProgress = [this](TZipCommon* s, std::uint8_t f, std::uint8_t a) { UnRar1Progress(s, f, a); };
}

void TForm1::GradBtn11Click() { Memo2->clear(); }

void TForm1::FileListBox3DblClick() { GradBtn9Click(); }

void TForm1::GradBtn9Click() {
  RarVersionOk = true;
  const QString archive = FileListBox3->FileName();
  if (archive.isEmpty()) {
    dialogs_->ShowMessage(QStringLiteral("You must select a .RAR file first"));
    return;
  }
  // A halt left by an earlier operation must not stop this one at its first event.
  Halted = false;
  haltLogged_ = false;
  unfoundVolume_.clear();
  // The password given for this archive lasts as long as this press.
  ForgetUnrarPassword();
  struct TForget {
    TForm1& Form;
    ~TForget() { Form.ForgetUnrarPassword(); }
  } forget{*this};
  Memo2->setPlainText(QStringLiteral("Checking RAR Version..."));
  QCoreApplication::processEvents();

  const bool compatible = CheckRarVersion(archive);
  // Headers no password opened hide every entry: the memo says why, and there is nothing to
  // extract, so no folder is asked for.
  if (compatible && UnRar1->HeadersLocked()) return;
  if (!compatible) {
    InstallUnRarHandlers();
    QStringList parts;
    for (const std::string& part : RarIncompatibleLines()) parts << QString::fromStdString(part);
    dialogs_->ShowMessage(parts.join(QLatin1Char('\n')));
    Memo2->appendPlainText(QStringLiteral(" "));
    for (const QString& part : parts) Memo2->appendPlainText(part);
    return;
  }

  const QString folder = QFileInfo(archive).absolutePath();
  BrowseDirectoryDlg1->SetSelection(folder);
  UnrarSubfolder = QFileInfo(archive).completeBaseName() + QLatin1Char('/');
  UnrarTarget = AddBackslash(folder) + UnrarSubfolder;
  if (!BrowseDirectoryDlg1->Execute()) {
    Memo2->appendPlainText(QStringLiteral("User canceled"));
    return;
  }

  UnRar1->SetArchiveFile(Native(archive));
  if (!TRegisterArkon::IsDecompressable(UnRar1->ArcType())) {
    Memo2->appendPlainText(QStringLiteral("Not a valid archive"));
    return;
  }
  const QString target = BrowseDirectoryDlg1->Selection();
  // A name typed with no folder selected has nothing to count from: never guess one.
  if (target.isEmpty() || QDir::isRelativePath(target)) {
    HandleException(std::runtime_error("Unable to create directory"));
    return;
  }
  // What this press makes is taken away again if nothing comes into it.
  const std::vector<std::string> madeFolders = MissingFolders(Native(target));
  ForceDirectories(Native(target));  // a failure shows in what the extraction reports

  InstallUnRarHandlers();
  UnRar1->SetCreateStoredDirs(true);
  UnRar1->SetUseStoredDirs(true);
  UnRar1->SetExtractDir(Native(target));
  UnRar1->SetFileSpec({"*.*"});
  UnRar1->SetRestoreFileAttr(true);
  SetProgressPosition(0);
  ShowProgress(true);
  CurrentVolume = NameOf(archive);

  unrarPasswordOffered_ = false;  // the version check's answer opens the extraction too
  const std::int32_t extracted = UnRar1->Extract();
  RemoveEmptyFolders(madeFolders);
  const QString summary = QStringLiteral("Extracted %1 files").arg(extracted);
  Memo2->appendPlainText(QStringLiteral(" "));
  Memo2->appendPlainText(summary);
  TallyraStatus->setText(summary);
  SetProgressPosition(0);
  ShowProgress(false);
}

bool TForm1::CheckRarVersion(const QString& archive) {
  UnRar1->SetArchiveFile(Native(archive));
  // The dry run writes nothing anywhere: no stored folders in the temporary folder either.
  UnRar1->SetCreateStoredDirs(false);
  UnRar1->SetExtractDir(Native(AddBackslash(LongPathName(QDir::tempPath()))));
  UnRar1->SetFileSpec({"*.*"});
  UnRar1->SetRestoreFileAttr(true);
  UnRar1->SetUseStoredDirs(true);

  // A dry run over the first volume: every entry is skipped after its version was read.
  UnRar1->OnActivate = [](TZipCommon*) {};
  UnRar1->OnBegin = [this](TZipCommon*, const std::string&, std::int32_t, bool& extract) {
    extract = false;
    const RARHeaderDataEx& header = UnRar1->HeaderData();
    RarVersionOk = RarVersionCompatible(header.UnpVer, UnRarLibrary().GetDllVersion());
    QStringList lines;
    for (const std::string& line : RarVersionLines(header.UnpVer, header.HostOS)) lines << FromLocal(line);
    Memo2->setPlainText(lines.join(QLatin1Char('\n')));
  };
  // Without a handler the run stops at the first volume's end without a word, where one that
  // cancels would have a missing second volume reported before the real run asks for it.
  UnRar1->OnNextVolume = nullptr;
  UnRar1->OnProgress = [](TZipCommon*, std::uint8_t, std::uint8_t) {};
  unrarPasswordOffered_ = false;
  UnRar1->Extract();
  return RarVersionOk;
}

void TForm1::LogHalt() {
  // Once per extraction: every later event would otherwise log it again.
  if (haltLogged_) return;
  haltLogged_ = true;
  SetProgressPosition(0);
  ShowProgress(false);
  Memo2->appendPlainText(QStringLiteral("User halted operation"));
}

void TForm1::UnRar1Activate(TZipCommon*) {}

void TForm1::UnRar1Begin(TZipCommon*, const std::string&, std::int32_t, bool&) {}

void TForm1::UnRar1Progress(TZipCommon*, std::uint8_t, std::uint8_t ProgressByArchive) {
  if (Halted) {
    // The halt ends the run: Cancel is set once, which the component reports as 25443.
    LogHalt();
    if (!UnRar1->Cancel()) UnRar1->SetCancel(true);
    return;
  }
  TallyraStatus->setText(QStringLiteral("Extracting ") + NameOf(FromNative(UnRar1->EntryName())) +
                         QStringLiteral(" from ") + NameOf(CurrentVolume));
  SetProgressPosition(ProgressByArchive);
}

void TForm1::UnRar1NextVolume(TZipCommon*, std::string& VolumeName, const std::string& VolumeID, bool fExists,
                              bool& Cancel) {
  Cancel = false;
  if (Halted) {
    LogHalt();
    Cancel = true;  // never wait for another volume once halted
    return;
  }
  if (!fExists) {
    const QString name = FromNative(VolumeName);
    QString prompt = QStringLiteral("Volume ID: ") + FromNative(VolumeID);
    // Asked again for the name the user gave: say why.
    if (!unfoundVolume_.empty() && VolumeName == unfoundVolume_)
      prompt += QLatin1Char('\n') + FromLocal(MessageText(25192)) + QStringLiteral(": ") + name;
    const std::optional<QString> answer = dialogs_->InputBox(NameOf(name), prompt, name);
    if (answer) {
      VolumeName = Native(*answer);
      // The component asks again for a name that does not exist; the volume is not done yet.
      if (!FileExists(VolumeName)) {
        unfoundVolume_ = VolumeName;
        return;
      }
    } else {
      Cancel = true;
    }
  }
  unfoundVolume_.clear();
  Memo2->appendPlainText(QStringLiteral("Extracted ") + NameOf(CurrentVolume));
  CurrentVolume = FromNative(VolumeName);
}

void TForm1::UnRar1Error(TZipCommon*, const std::string& FileName, const std::string& ExtendedMsg,
                         const std::string&, std::int32_t ECode) {
  for (const std::string& line : RarErrorLines(FileName, ExtendedMsg, ECode)) {
    Memo2->appendPlainText(FromLocal(line));
  }
  if (Halted) LogHalt();
}

void TForm1::UnRar1GetPassword(TZipCommon*, const std::string& FileName, std::string& Password, bool& TryAgain) {
  if (unrarPasswordSkipped_) {
    TryAgain = false;
    return;
  }
  // What was given for the archive is tried once in every run before the user is asked again.
  if (!unrarPasswordOffered_ && !unrarPassword_.empty()) {
    unrarPasswordOffered_ = true;
    Password = unrarPassword_;
    return;
  }
  QString prompt = QStringLiteral("Password:");
  // Asked again for the same file after an answer: it did not open it.
  if (FileName == unrarPasswordAskedFor_) prompt = FromLocal(MessageText(26517)) + QLatin1Char('\n') + prompt;
  std::optional<QString> answer = dialogs_->PasswordBox(NameOf(FromNative(FileName)), prompt);
  if (!answer) {
    unrarPasswordSkipped_ = true;
    TryAgain = false;
    return;
  }
  if (answer->isEmpty()) return;  // nothing to try: the component asks again
  unrarPasswordAskedFor_ = FileName;
  WipeString(unrarPassword_);
  QByteArray utf8 = answer->toUtf8();  // the library takes passwords as UTF-8
  unrarPassword_.assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  WipeBytes(utf8.data(), static_cast<std::size_t>(utf8.size()));
  WipeText(*answer);
  unrarPasswordOffered_ = true;
  Password = unrarPassword_;
}

void TForm1::ForgetUnrarPassword() {
  WipeString(unrarPassword_);
  unrarPasswordOffered_ = unrarPasswordSkipped_ = false;
  unrarPasswordAskedFor_.clear();
}

void TForm1::BrowseDirectoryDlg1Create(TBrowseDirectoryDlg* Sender) {
  BrowseEditHandle = Sender->EditBox();
  if (BrowseEditHandle) BrowseEditHandle->setText(UnrarTarget);
}

void TForm1::BrowseDirectoryDlg1SelChanged(TBrowseDirectoryDlg*, const QString& NewSel, const TBrowseItem&) {
  if (!BrowseEditHandle) return;
  BrowseEditHandle->setText(AddBackslash(NewSel) + UnrarSubfolder);
}

void TForm1::BrowseDirectoryDlg1ValidateFailed(TBrowseDirectoryDlg*, const QString&, bool& Cancel) {
  Cancel = true;  // close with the typed path as the choice
}
