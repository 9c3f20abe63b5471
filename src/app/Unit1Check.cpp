// The "Validate SFV file" page: the check, its owner-drawn result list, copying results
// and the hand-over to extraction.
#include "app/NativePath.h"
#include "app/Unit1.h"
#include "checksum/RarSets.h"
#include "checksum/SfvCheck.h"
#include "controls/FilCtl95.h"
#include "controls/GradBtn.h"
#include "controls/ProgressCyl.h"
#include "platform/FileSystem.h"
#include "platform/SequentialFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

constexpr int ListItemHeight = 16;
// The classic caption colours the list uses for "status" items and for its own text.
const QColor ActiveCaptionColor(10, 36, 106);
const QColor InactiveCaptionColor(128, 128, 128);

// Hands the drawing of every item to the window's handler.
class TListBox1Delegate final : public QStyledItemDelegate {
public:
  TListBox1Delegate(TForm1* form, QObject* parent) : QStyledItemDelegate(parent), form_(form) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    form_->ListBox1DrawItem(painter, index.row(), option.rect,
                            (option.state & QStyle::State_Selected) != 0);
  }
  QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
    return {Extent, ListItemHeight};
  }
  int Extent = 0;  // the horizontal extent: how far the list scrolls sideways

private:
  TForm1* form_;
};

TListBox1Delegate* DelegateOf(QListWidget* list) {
  return static_cast<TListBox1Delegate*>(list->itemDelegate());
}

}  // namespace

void TForm1::InstallListBox1Drawing() {
  ListBox1->setItemDelegate(new TListBox1Delegate(this, ListBox1));
}

void TForm1::GradBtn5Click() {
  UnrarAfterSFV = ChkBoxUnrarAfter->isChecked();
  WorkDir = AddBackslash(Directory95ListBox1->Directory());
  QCoreApplication::processEvents();
  if (FileListBox1->FileName().isEmpty()) {
    dialogs_->ShowMessage(QStringLiteral("You must select an SFV, CRC or other validation file first"));
    return;
  }
  if (workflowRunning_) return;  // one read at a time
  ErrorList.clear();
  Halted = false;
  BeginWorkflow({GradBtn5, GradBtn7});
  SfvPath = FileListBox1->FileName();
  const bool checked = ValidateSfv(SfvPath);
  QCoreApplication::processEvents();
  EndWorkflow({GradBtn5, GradBtn7});
  if (checked && !Halted) AfterCheck();  // nothing to extract after a failed or halted check
}

void TForm1::AfterCheck() {
  if (!UnrarAfterSFV) {
    OfferErrorReport();
  } else if (ErrorList.isEmpty() ||
             dialogs_->AskErrorYesNo(QStringLiteral(
                 "One or more files had errors. Are you sure you want to attempt extraction ?"))) {
    UnrarAfterCheck();
  }
}

void TForm1::ScrollListTop(int top) {
  // The list scrolls by whole items, so the bar's value is the top item; setting it is
  // far cheaper than asking the view to bring an item into sight, once per entry.
  QScrollBar* bar = ListBox1->verticalScrollBar();
  // Items just added reach the bar's range only when the view lays them out, later: the
  // summary at the end would stay out of sight.
  if (top > bar->maximum()) ListBox1->doItemsLayout();
  bar->setValue(std::clamp(top, bar->minimum(), bar->maximum()));
}

void TForm1::ShowPendingCheckView() {
  TPendingCheckView& pending = pendingCheckView_;
  if (pending.Entries == nullptr) return;
  if (pending.Checking >= 0) {
    const TSfvEntry& entry = (*pending.Entries)[static_cast<std::size_t>(pending.Checking)];
    TallyraStatus->setText(QStringLiteral("Checking : ") + FromNative(entry.Name));
    if (!pending.CheckingShown) ListBox1->item(pending.Checking)->setText(FromNative(EntryItem(entry, "Checking")));
    ScrollListTop(pending.Checking - pending.VisibleRows + 4);
  }
  if (pending.Checked > 0) {
    GroupBox1->setTitle(QStringLiteral("Results ( Checked %1 of %2 files )").arg(pending.Checked).arg(pending.Count));
  }
  pending = {pending.Entries, -1, true, 0, 0, pending.VisibleRows};
}

void TForm1::PumpMessages() {
  ShowPendingCheckView();
  QCoreApplication::processEvents();
}

void TForm1::FitWindowToList(int extent) {
  // The list scrolls sideways as far as the extent; the window grows to show it all.
  DelegateOf(ListBox1)->Extent = extent;
  ListBox1->doItemsLayout();
  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  resize(width() + extent - ListBox1->width() + scrollBar + 4, height());
}

bool TForm1::ValidateSfv(const QString& path) {
  TotalBytes = 0;
  resize(StartWidth, height());

  // Read as a regular file only: a FIFO given with /C would block the window for good.
  std::string bytes;
  if (ReadRegularFile(Native(path), bytes) != 0) {
    HandleException(std::runtime_error(Native(QStringLiteral("Cannot open file ") + path)));
    return false;
  }
  const std::vector<TSfvEntry> entries = ReadSfvEntries(bytes);

  // A start by the timer guards what a start from the page guards: "Clear Results"
  // would empty the list under the running check.
  const bool ownWorkflow = !workflowRunning_;
  if (ownWorkflow) BeginWorkflow({GradBtn5, GradBtn7});
  ListBox1->clear();
  ListReady = false;
  NameColumnWidth = 0;
  ShowProgress(true);
  const QFontMetrics metrics(ListBox1->font());
  // The summary's labels share the name column; short names must not run them into
  // their values.
  for (const char* label : {"Total files : ", "Checking done", "Checked at : "}) {
    NameColumnWidth = std::max(NameColumnWidth, metrics.horizontalAdvance(QLatin1String(label) + "XXX"));
  }
  for (const TSfvEntry& entry : entries) {
    NameColumnWidth = std::max(NameColumnWidth,
                               metrics.horizontalAdvance(FromNative(entry.Name) + QStringLiteral("XXX")));
    ListBox1->addItem(FromNative(EntryItem(entry, "Status")));
  }

  const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int n = static_cast<int>(entries.size());
  ListReady = true;
  LayoutWindow();
  FitWindowToList(metrics.horizontalAdvance(QStringLiteral("Not FoundXX")) + NameColumnWidth + scrollBar);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->geometry().width() / 2 - width() / 2, y());
  }
  const int visibleRows = ListBox1->viewport()->height() / ListItemHeight;

  TSfvCheckHooks hooks;
  hooks.Halted = [this] { return Halted; };
  hooks.PumpMessages = [this] { PumpMessages(); };
  pendingCheckView_ = {&entries, -1, true, 0, 0, visibleRows};
  hooks.OnChecking = [&](int i, const TSfvEntry&) {
    FileError = -1;
    pendingCheckView_.Checking = i;
    pendingCheckView_.CheckingShown = false;
  };
  hooks.FileCrc = [this](const std::string& filePath) {
    TFileCrcResult r;
    r.Crc = FileCrc(FromNative(filePath));
    r.Status = Halted ? TCrcStatus::Halted : FileError != -1 ? TCrcStatus::Failed : TCrcStatus::Ok;
    r.ErrorCode = static_cast<int>(LastError);
    r.Sized = true;
    r.Size = static_cast<std::uint64_t>(CurrentFileSize);
    return r;
  };
  hooks.OnVerdict = [&](int i, int count, const TSfvEntry& entry, TEntryVerdict verdict, std::uint32_t) {
    if (verdict == TEntryVerdict::Passed || verdict == TEntryVerdict::Failed) {
      pendingCheckView_.Checked = i + 1;
      pendingCheckView_.Count = count;
    }
    ListBox1->item(i)->setText(FromNative(EntryItem(entry, VerdictStatus(verdict))));
    pendingCheckView_.CheckingShown = true;
  };

  const TSfvCheckResult result = CheckSfvEntries(Native(WorkDir), entries, hooks, *clock_);
  ShowPendingCheckView();
  pendingCheckView_ = {};
  for (const std::string& line : result.ErrorLines) ErrorList << FromLocal(line);
  const int listRows = visibleRows;  // rows the list shows, for the scroll rules

  if (result.Halted) {
    const int k = result.HaltedAt;
    GroupBox1->setTitle(QStringLiteral("Results (") + QStringLiteral("Checked ") + QString::number(k) +
                        QStringLiteral(" of ") + QString::number(n) + QStringLiteral(" files") +
                        QStringLiteral(" )"));
    GradBtn5->setEnabled(true);
    GradBtn7->setEnabled(true);
    const std::vector<std::string> items = HaltedItems(k, n);
    ListBox1->addItem(FromNative(items[0]));
    ScrollListTop(ListBox1->count() - listRows);
    for (std::size_t j = 1; j < items.size(); ++j) ListBox1->addItem(FromNative(items[j]));
    ScrollListTop(ListBox1->count() - listRows + 3);
    FitWindowToList(metrics.horizontalAdvance(FromNative(items[0])) + NameColumnWidth + scrollBar);
    ShowProgress(false);
    TallyraStatus->setText(QStringLiteral("Checking Halted"));
    if (ownWorkflow) EndWorkflow({GradBtn5, GradBtn7});
    OfferErrorReport();
    ErrorList.clear();
    return true;
  }

  const std::uint64_t elapsed = result.ElapsedMs;
  TotalBytes = TotalBytes / static_cast<long double>(elapsed == 0 ? 1 : elapsed);
  const std::vector<std::string> summary =
      SummaryItems(n, result.Failures, elapsed, static_cast<long double>(result.Bytes));
  ListBox1->addItem(FromNative(summary[0]));
  ScrollListTop(ListBox1->count() - listRows);
  for (std::size_t j = 1; j < summary.size(); ++j) ListBox1->addItem(FromNative(summary[j]));
  ScrollListTop(ListBox1->count() - listRows + 3);
  TallyraStatus->setText(QStringLiteral("Checking completed"));
  ShowProgress(false);
  if (ownWorkflow) EndWorkflow({GradBtn5, GradBtn7});
  return true;
}

void TForm1::ListBox1DrawItem(QPainter* painter, int index, const QRect& rect, bool selected) {
  const QString text = ListBox1->item(index)->text();
  const QPalette& pal = ListBox1->palette();
  QColor color = selected ? pal.color(QPalette::HighlightedText) : InactiveCaptionColor;
  if (!selected && ListReady) {
    const QString lower = text.toLower();
    const std::pair<const char*, QColor> rules[] = {
        {"failed", QColor(255, 0, 0)},   {"passed", QColor(0, 128, 0)},
        {"not found", QColor(255, 0, 0)}, {"status", ActiveCaptionColor},
        {"checking", QColor(0, 0, 255)},
    };
    color = Qt::black;
    for (const auto& [word, wordColor] : rules) {
      if (lower.contains(QLatin1String(word))) {
        color = wordColor;
        break;
      }
    }
  }
  painter->save();
  painter->fillRect(rect, selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base));
  painter->setFont(ListBox1->font());
  painter->setPen(color);
  const QString name = text.section(QLatin1Char('|'), 0, 0);
  const QString status = text.section(QLatin1Char('|'), 1, 1);
  const int baseline = rect.top() + 2 + painter->fontMetrics().ascent();
  painter->drawText(rect.left() + 1, baseline, name);
  painter->drawText(rect.left() + NameColumnWidth + 2, baseline, status);
  painter->restore();
}

void TForm1::Copyall1Click(QAction* item) { CopyResults(item->data().toInt()); }

void TForm1::CopyResults(int tag) {
  std::vector<std::string> all;
  std::vector<std::string> chosen;
  for (int i = 0; i < ListBox1->count(); ++i) {
    all.push_back(ListBox1->item(i)->text().toStdString());
    if (tag == 1 || ListBox1->item(i)->isSelected()) chosen.push_back(all.back());
  }
  QGuiApplication::clipboard()->setText(
      QString::fromStdString(CopyResultsText(chosen, CopyFirstWidth(all))));
}

void TForm1::UnrarAfterCheck() {
  Directory95ListBox3->SetDirectory(WorkDir);
  PageControl1->setCurrentWidget(TabSheet5);
  const QString archive = FromNative(ChangeFileExt(ExtractFileName(Native(SfvPath)), ".rar"));
  for (int i = 0; i < FileListBox3->Count(); ++i) {
    if (FileListBox3->Name(i) == archive) {  // letter case included
      FileListBox3->SetItemIndex(i);
      GradBtn9Click();
      return;
    }
  }
  // Most SFVs are named after their folder, not their archive: the set is then the one
  // the SFV itself lists.
  std::vector<std::string> names;
  std::string bytes;
  if (ReadRegularFile(Native(SfvPath), bytes) == 0) {
    for (const TSfvEntry& entry : ReadSfvEntries(bytes)) names.push_back(entry.Name);
  }
  const std::string folder = Native(WorkDir);
  TFolderListings listings;
  const std::string first = FirstVolumeAmongEntries(
      names, [&](const std::string& name) { return ResolveSfvEntry(folder, name, listings); });
  if (!first.empty() && SelectUnRarArchive(FromNative(first))) {
    GradBtn9Click();
    return;
  }
  const QString none = QStringLiteral("No RAR archive found for ") + QFileInfo(SfvPath).fileName();
  Memo2->appendPlainText(none);
  TallyraStatus->setText(none);
}

bool TForm1::SelectUnRarArchive(const QString& path) {
  const QFileInfo info(path);
  Directory95ListBox3->SetDirectory(info.absolutePath());
  // A filter chosen on the page may hide it: then the first filter that shows it.
  auto listed = [&] {
    for (int i = 0; i < FileListBox3->Count(); ++i) {
      if (FileListBox3->Name(i) == info.fileName()) return true;
    }
    return false;
  };
  for (int filter = -1; filter < FilterComboBox2->count() && !listed(); ++filter) {
    if (filter >= 0) FilterComboBox2->setCurrentIndex(filter);
  }
  if (!listed()) return false;
  FileListBox3->SetFileName(info.fileName());
  return true;
}
