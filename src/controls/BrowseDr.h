#pragma once
// TBrowseDirectoryDlg: asks the user for a folder. Our own dialog takes the place of the
// Windows shell's folder browser: a tree of drives and folders under a chosen root, an
// optional edit box, a status line, OK and Cancel.
//
// Seam: the owner sets the properties and calls Execute on the GUI thread; Execute shows
// the dialog application-modal and runs an event loop until it closes. While it is shown
// (DialogHandle() is not null) the dialog calls back, on the GUI thread:
//   OnCreate          once, when the window exists, sized and placed, before any
//                     OnSelChanged; the edit box is reachable through EditBox();
//   OnSelChanged      each time the selection moves after that (the user, or Selection
//                     assigned while shown), after the edit box took the new item's path;
//                     the starting selection is no move and raises nothing;
//   OnValidateFailed  when OK is pressed on typed text that names no folder (typed text
//                     counts from the selected folder unless it is a full path); setting
//                     Cancel closes the dialog with that path as the choice, leaving it
//                     false keeps the dialog open.
// A callback may read and assign the properties (Selection, StatusText, Caption,
// EnableOKButton ...), write the edit box, and close the dialog through DialogHandle():
// reject() cancels, accept() takes the tree's current item as OK would without the edit
// box. It must not destroy the component.
//
// The dialog's parts carry object names for tests: "Title", "Tree", "Edit", "Status",
// "OK", "Cancel". A test drives Execute from a zero-time QTimer that lives no longer
// than the call (or from OnCreate) and acts on QApplication::activeModalWidget(), the
// same window as DialogHandle().
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QObject>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <QString>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>


// The root folder, by the shell's special-folder numbers.
enum TRootID : std::uint16_t {
  idDesktop = 0,
  idInternet = 1,
  idPrograms = 2,
  idControlPanel = 3,
  idPrinters = 4,
  idPersonal = 5,
  idFavorites = 6,
  idStartup = 7,
  idRecent = 8,
  idSendTo = 9,
  idRecycleBin = 10,
  idStartMenu = 11,
  idDesktopDirectory = 16,
  idDrives = 17,
  idNetwork = 18,
  idNetHood = 19,
  idFonts = 20,
  idTemplates = 21,
  idCommonStartMenu = 22,
  idCommonPrograms = 23,
  idCommonStartup = 24,
  idCommonDesktopDirectory = 25,
  idAppData = 26,
  idPrintHood = 27,
  idDesktopExpanded = 0xFEFE,
};

enum TBrowseFlag {
  bfDirectoriesOnly,
  bfDomainOnly,
  bfAncestors,
  bfComputers,
  bfPrinters,
  bfIncludeFiles,
  bfEditBox,
  bfIncludeURLs,
  bfNewDialogStyle,
  bfShareable,
  bfUseNewUI,
};

// A set of options, bit n for the n-th option.
class TBrowseFlags {
public:
  constexpr TBrowseFlags() = default;
  constexpr TBrowseFlags(std::initializer_list<TBrowseFlag> flags) {
    for (TBrowseFlag f : flags) mask_ |= Bit(f);
  }
  static constexpr TBrowseFlags FromMask(std::uint16_t mask) {
    TBrowseFlags flags;
    flags.mask_ = mask & 0x07FF;
    return flags;
  }
  constexpr std::uint16_t Mask() const { return mask_; }
  constexpr bool Contains(TBrowseFlag f) const { return (mask_ & Bit(f)) != 0; }
  constexpr TBrowseFlags& Include(TBrowseFlag f) {
    mask_ |= Bit(f);
    return *this;
  }
  constexpr bool operator==(const TBrowseFlags&) const = default;

private:
  static constexpr std::uint16_t Bit(TBrowseFlag f) { return static_cast<std::uint16_t>(1u << f); }
  std::uint16_t mask_ = 0;
};

// The shell flag each option stands for, and the ones Execute adds.
std::uint32_t ShellFlagOf(TBrowseFlag flag);
inline constexpr std::uint32_t BifStatusText = 0x04;
inline constexpr std::uint32_t BifValidate = 0x20;

// One item of the tree: what the shell's item identifier list was. Path is empty for an
// item that is no file-system object (the drives folder itself).
struct TBrowseItem {
  QString Path;
  QString DisplayName;
  int ImageIndex = -1;  // see TBrowseDirectoryDlg::ImageIndex
  bool operator==(const TBrowseItem&) const = default;
};

class TBrowseDirectoryDlg;
using TBDCreateEvent = std::function<void(TBrowseDirectoryDlg* Sender)>;
using TBDSelChangedEvent =
    std::function<void(TBrowseDirectoryDlg* Sender, const QString& NewSel, const TBrowseItem& NewSelPIDL)>;
using TBDValidateFailedEvent =
    std::function<void(TBrowseDirectoryDlg* Sender, const QString& Path, bool& Cancel)>;

// The folder a root stands for on this system; empty for idDrives, whose tree is the
// list of drives. Roots without a counterpart here show the home folder.
QString RootFolder(TRootID root);

// True for an existing folder; one trailing separator is ignored, and "/" always exists.
bool BrowseFolderExists(const QString& path);

// The status line fitted into `available` pixels as widthOf measures text. A folder is
// shortened from the left, one element at a time, with ".../"; other text loses
// characters from its end and gets "...".
QString FitStatusLine(const QString& text, bool isFolder, int available,
                      const std::function<int(const QString&)>& widthOf);

class TBrowseDirectoryDlg : public QObject {
  Q_OBJECT
public:
  // A widget owner gives the dialog its parent window; otherwise the active window at
  // Execute time does.
  explicit TBrowseDirectoryDlg(QObject* owner = nullptr);
  ~TBrowseDirectoryDlg() override;

  static QString Version() { return QStringLiteral("TBrowseDirectoryDlg v2.63"); }

  // Assigning adds a trailing separator to an existing folder; Execute leaves the
  // choice without one (except "/").
  QString Selection() const { return selection_; }
  void SetSelection(const QString& value);
  QString Title() const { return title_; }
  void SetTitle(const QString& value) { title_ = value; }
  TRootID Root() const { return root_; }
  void SetRoot(TRootID value) { root_ = value; }
  // Assigning adds the implied options: bfIncludeURLs brings bfIncludeFiles and
  // bfUseNewUI, bfShareable brings bfUseNewUI, bfUseNewUI brings bfEditBox and
  // bfNewDialogStyle.
  TBrowseFlags Options() const { return options_; }
  void SetOptions(TBrowseFlags value);
  bool Center() const { return center_; }
  void SetCenter(bool value) { center_ = value; }
  QString StatusText() const { return statusText_; }
  void SetStatusText(const QString& value);
  bool FitStatusText() const { return fitStatusText_; }
  void SetFitStatusText(bool value);
  // While shown, OK is enabled when this is true and the selected item may be chosen.
  bool EnableOKButton() const { return enableOKButton_; }
  void SetEnableOKButton(bool value);
  // The chosen item's picture: a QAbstractFileIconProvider::IconType value (Computer,
  // Network, Drive, Folder, File ...); -1 until something was chosen.
  int ImageIndex() const { return imageIndex_; }
  // The window title; the dialog's own while it is shown.
  QString Caption() const;
  void SetCaption(const QString& value);
  // With a folder required, OK on an item without a path (the drives folder) keeps the
  // dialog open and says why in the status line, as typed text that counts from no
  // folder always does.
  bool FolderRequired() const { return folderRequired_; }
  void SetFolderRequired(bool value) { folderRequired_ = value; }
  bool ShowSelectionInStatus() const { return showSelectionInStatus_; }
  void SetShowSelectionInStatus(bool value) { showSelectionInStatus_ = value; }

  TBDSelChangedEvent OnSelChanged;
  TBDCreateEvent OnCreate;
  TBDValidateFailedEvent OnValidateFailed;

  // Shows the dialog; true when an item was chosen (also one without a path, such as the
  // drives folder, which leaves Selection empty). False on Cancel, with Selection cleared.
  bool Execute();

  // The dialog window while it is shown, null otherwise.
  QDialog* DialogHandle() const { return handle_; }
  // The dialog's edit box while it is shown with bfEditBox, null otherwise.
  QLineEdit* EditBox() const { return edit_; }
  // The status line while it is shown.
  QLabel* StatusControl() const { return status_; }
  QString DisplayName() const { return displayName_; }
  const std::optional<TBrowseItem>& SelectionPIDL() const { return selectionItem_; }

  // The shell flags Execute runs the browser with: the options' flags, validate with
  // bfEditBox, status text when StatusText is set or ShowSelectionInStatus.
  std::uint32_t ShellFlags() const;
  // The status line as it would show now (fitted while shown).
  QString FittedStatusText() const;

protected:
  virtual void HandleInitialized(QDialog* window);
  virtual void HandleSelectionChanged(QDialog* window, const TBrowseItem& item);
  virtual void HandleValidateFailed(const QString& path, bool& cancel);

private:
  void BuildDialog(QWidget* owner);
  void DestroyDialog();
  void ApplySelection();
  void ShowStatus();
  void UpdateOkButton();
  void TreeSelectionMoved();
  void OkPressed();
  void LoadChildren(QTreeWidgetItem* item);
  QTreeWidgetItem* LocatePath(const QString& path);
  QTreeWidgetItem* AddItem(QTreeWidgetItem* parent, const TBrowseItem& data, bool folder);
  TBrowseItem ItemOf(const QTreeWidgetItem* item) const;
  bool MayChoose(const TBrowseItem& item) const;
  void Choose(const TBrowseItem& item);
  bool eventFilter(QObject* watched, QEvent* event) override;

  QString selection_;
  QString title_;
  TRootID root_ = idDesktop;
  TBrowseFlags options_;
  bool center_ = true;
  QString statusText_;
  bool fitStatusText_ = true;
  bool enableOKButton_ = true;
  int imageIndex_ = -1;
  QString caption_;
  bool showSelectionInStatus_ = false;
  bool folderRequired_ = false;
  QString displayName_;
  std::optional<TBrowseItem> selectionItem_;

  // The window and its parts, while Execute runs.
  QPointer<QDialog> dialog_;
  QPointer<QTreeWidget> tree_;
  QPointer<QLineEdit> edit_;
  QPointer<QLabel> status_;
  QPointer<QPushButton> ok_;
  QPointer<QDialog> handle_;  // the window once HandleInitialized took it
  bool quiet_ = false;        // moves of the tree that raise nothing
  std::optional<TBrowseItem> chosen_;
};
