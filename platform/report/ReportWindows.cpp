// The engine's own windows: Output Options, Report Status and Report Preview.
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/report/ReportEngine.h"

namespace kelvrep {

namespace {

QWidget* ParentWindow() { return QApplication::activeWindow(); }

// A save dialog for PDF files; null result when cancelled.
QString AskPdfFileName(QWidget* Parent, const QString& Proposed) {
  QFileDialog dialog(Parent, QStringLiteral("Save Report As"));
  dialog.setObjectName(QStringLiteral("SaveDialog"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("PDF files (*.pdf)"));
  dialog.setDefaultSuffix(QStringLiteral("pdf"));
  const QFileInfo info(Proposed);
  dialog.setDirectory(info.absolutePath());
  dialog.selectFile(info.fileName());
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

}  // namespace

std::optional<TOutputChoice> RunOutputOptions(const QString& ReportName) {
  QDialog dialog(ParentWindow());
  dialog.setObjectName(QStringLiteral("OutputOptions"));
  dialog.setWindowTitle(QStringLiteral("Output Options"));

  auto* group = new QGroupBox(QStringLiteral("Report Destination"), &dialog);
  auto* printer = new QRadioButton(QStringLiteral("&Printer"), group);
  printer->setObjectName(QStringLiteral("rbPrinter"));
  auto* preview = new QRadioButton(QStringLiteral("Pre&view"), group);
  preview->setObjectName(QStringLiteral("rbPreview"));
  auto* file = new QRadioButton(QStringLiteral("&File"), group);
  file->setObjectName(QStringLiteral("rbFile"));
  auto* groupLayout = new QVBoxLayout(group);
  groupLayout->addWidget(printer);
  groupLayout->addWidget(preview);
  groupLayout->addWidget(file);
  preview->setChecked(true);

  auto* copies = new QSpinBox(&dialog);
  copies->setObjectName(QStringLiteral("spnCopies"));
  copies->setRange(1, 999);
  copies->setValue(1);

  auto* fileName = new QLineEdit(&dialog);
  fileName->setObjectName(QStringLiteral("edtFileName"));
  fileName->setText(QDir::home().filePath(QString(ReportName).replace(QLatin1Char('/'), QLatin1Char('-')) +
                                          QStringLiteral(".pdf")));
  auto* browse = new QPushButton(QStringLiteral("&Browse..."), &dialog);
  browse->setObjectName(QStringLiteral("btnBrowse"));
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(fileName, 1);
  fileRow->addWidget(browse);

  fileName->setMinimumWidth(280);
  auto* copiesLabel = new QLabel(QStringLiteral("&Copies:"), &dialog);
  copiesLabel->setBuddy(copies);
  auto* fileLabel = new QLabel(QStringLiteral("File &name (PDF):"), &dialog);
  fileLabel->setBuddy(fileName);
  auto* form = new QFormLayout;
  form->addRow(copiesLabel, copies);
  form->addRow(fileLabel, fileRow);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(group);
  layout->addLayout(form);
  layout->addWidget(buttons);

  auto update = [=] {
    const bool toFile = file->isChecked();
    fileName->setEnabled(toFile);
    browse->setEnabled(toFile);
    copies->setEnabled(!toFile);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(!toFile || !fileName->text().trimmed().isEmpty());
  };
  for (QRadioButton* b : {printer, preview, file}) QObject::connect(b, &QRadioButton::toggled, &dialog, update);
  QObject::connect(fileName, &QLineEdit::textChanged, &dialog, update);
  QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, fileName] {
    const QString chosen = AskPdfFileName(&dialog, fileName->text());
    if (!chosen.isEmpty()) fileName->setText(chosen);
  });
  update();

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  TOutputChoice choice;
  choice.Destination = printer->isChecked() ? TDestination::Printer
                       : file->isChecked()  ? TDestination::File
                                            : TDestination::Preview;
  choice.Copies = copies->value();
  choice.FileName = fileName->text().trimmed();
  if (choice.Destination == TDestination::File && QFileInfo(choice.FileName).suffix().isEmpty())
    choice.FileName += QStringLiteral(".pdf");
  return choice;
}

bool SetUpPrinter(QPrinter& Printer, int Copies, QWidget* Parent) {
  Printer.setPageSize(QPageSize(QPageSize::A4));
  Printer.setCopyCount(Copies);
  QPrintDialog dialog(&Printer, Parent ? Parent : ParentWindow());
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  return dialog.exec() == QDialog::Accepted;
}

// ---------------------------------------------------------------------------------------------
// Report Status

struct TStatusWindow::TImpl {
  QDialog Dialog;
  QLabel* Status{nullptr};
  QLabel* Page{nullptr};
  bool Cancelled{false};
};

TStatusWindow::TStatusWindow(const QString& ReportName) : FImpl(new TImpl) {
  QDialog& d = FImpl->Dialog;
  d.setObjectName(QStringLiteral("ReportStatus"));
  d.setWindowTitle(QStringLiteral("Report Status"));
  d.setWindowModality(Qt::ApplicationModal);
  auto* report = new QLabel(QStringLiteral("Report: ") + ReportName, &d);
  FImpl->Status = new QLabel(&d);
  FImpl->Status->setObjectName(QStringLiteral("lblStatus"));
  FImpl->Status->setMinimumWidth(260);
  FImpl->Page = new QLabel(&d);
  FImpl->Page->setObjectName(QStringLiteral("lblPage"));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), &d);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  auto* layout = new QVBoxLayout(&d);
  layout->addWidget(report);
  layout->addWidget(FImpl->Status);
  layout->addWidget(FImpl->Page);
  layout->addWidget(cancel, 0, Qt::AlignHCenter);
  TImpl* impl = FImpl;
  QObject::connect(cancel, &QPushButton::clicked, &d, [impl] { impl->Cancelled = true; });
  QObject::connect(&d, &QDialog::rejected, &d, [impl] { impl->Cancelled = true; });
  SetPage(0);
  d.show();
  QCoreApplication::processEvents();
}

TStatusWindow::~TStatusWindow() {
  FImpl->Dialog.hide();
  delete FImpl;
}

void TStatusWindow::SetStatus(const QString& Text) { FImpl->Status->setText(Text); }

void TStatusWindow::SetPage(int Page) {
  FImpl->Page->setText(Page > 0 ? QStringLiteral("Page: %1").arg(Page) : QStringLiteral("Page: -"));
}

bool TStatusWindow::Poll() {
  QCoreApplication::processEvents();
  return !FImpl->Cancelled;
}

// ---------------------------------------------------------------------------------------------
// Report Preview

namespace {

class TPreview {
 public:
  TPreview(const TDocument& Doc, int Copies) : FDoc(Doc), FCopies(Copies) {}
  void Run();

 private:
  void Show();
  void Go(int Page);
  void Zoom(double Factor);
  void FitPage();
  void Print();
  void Save();
  QAction* Add(const QString& Name, const QString& Text, const QKeySequence& Key, void (TPreview::*Slot)());

  const TDocument& FDoc;
  int FCopies;
  int FPage{0};
  double FZoom{1.0};  // 1.0 = 96 dots per inch
  QDialog FDialog;
  QToolBar* FBar{nullptr};
  QLabel* FPageLabel{nullptr};
  QLabel* FView{nullptr};
  QScrollArea* FArea{nullptr};
};

QAction* TPreview::Add(const QString& Name, const QString& Text, const QKeySequence& Key, void (TPreview::*Slot)()) {
  QAction* a = FBar->addAction(Text);
  a->setObjectName(Name);
  if (!Key.isEmpty()) a->setShortcut(Key);
  QObject::connect(a, &QAction::triggered, &FDialog, [this, Slot] { (this->*Slot)(); });
  return a;
}

void TPreview::Run() {
  FDialog.setObjectName(QStringLiteral("ReportPreview"));
  FDialog.setWindowTitle(QStringLiteral("Report Preview"));
  FBar = new QToolBar(&FDialog);
  FBar->setObjectName(QStringLiteral("tbPreview"));
  auto nav = [this](const QString& Name, const QString& Text, const QKeySequence& Key, auto Target) {
    QAction* a = FBar->addAction(Text);
    a->setObjectName(Name);
    if (!Key.isEmpty()) a->setShortcut(Key);
    QObject::connect(a, &QAction::triggered, &FDialog, [this, Target] { Go(Target(FPage)); });
  };
  const int last = static_cast<int>(FDoc.Pages.size()) - 1;
  nav(QStringLiteral("actFirst"), QStringLiteral("First"), QKeySequence(Qt::CTRL | Qt::Key_Home),
      [](int) { return 0; });
  nav(QStringLiteral("actPrior"), QStringLiteral("Prior"), QKeySequence(Qt::Key_PageUp),
      [](int P) { return P - 1; });
  FPageLabel = new QLabel(&FDialog);
  FPageLabel->setObjectName(QStringLiteral("lblPage"));
  FPageLabel->setContentsMargins(8, 0, 8, 0);
  FBar->addWidget(FPageLabel);
  nav(QStringLiteral("actNext"), QStringLiteral("Next"), QKeySequence(Qt::Key_PageDown),
      [](int P) { return P + 1; });
  nav(QStringLiteral("actLast"), QStringLiteral("Last"), QKeySequence(Qt::CTRL | Qt::Key_End),
      [last](int) { return last; });
  FBar->addSeparator();
  QAction* zoomIn = FBar->addAction(QStringLiteral("Zoom In"));
  zoomIn->setObjectName(QStringLiteral("actZoomIn"));
  zoomIn->setShortcut(QKeySequence::ZoomIn);
  QObject::connect(zoomIn, &QAction::triggered, &FDialog, [this] { Zoom(1.25); });
  QAction* zoomOut = FBar->addAction(QStringLiteral("Zoom Out"));
  zoomOut->setObjectName(QStringLiteral("actZoomOut"));
  zoomOut->setShortcut(QKeySequence::ZoomOut);
  QObject::connect(zoomOut, &QAction::triggered, &FDialog, [this] { Zoom(1 / 1.25); });
  Add(QStringLiteral("actFit"), QStringLiteral("Whole Page"), {}, &TPreview::FitPage);
  FBar->addSeparator();
  Add(QStringLiteral("actPrint"), QStringLiteral("Print..."), QKeySequence::Print, &TPreview::Print);
  Add(QStringLiteral("actSave"), QStringLiteral("Save PDF..."), QKeySequence::Save, &TPreview::Save);
  FBar->addSeparator();
  QAction* close = FBar->addAction(QStringLiteral("Close"));
  close->setObjectName(QStringLiteral("actClose"));
  QObject::connect(close, &QAction::triggered, &FDialog, &QDialog::accept);

  FView = new QLabel;
  FView->setObjectName(QStringLiteral("lblPageView"));
  FView->setAlignment(Qt::AlignCenter);
  FArea = new QScrollArea(&FDialog);
  FArea->setObjectName(QStringLiteral("scrPage"));
  FArea->setAlignment(Qt::AlignCenter);
  FArea->setBackgroundRole(QPalette::Dark);
  FArea->setWidget(FView);

  auto* layout = new QVBoxLayout(&FDialog);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(FBar);
  layout->addWidget(FArea, 1);

  QSize size(860, 1000);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    size = size.boundedTo(screen->availableSize() * 0.9);
  FDialog.resize(size);
  layout->activate();
  FitPage();
  FDialog.exec();
}

void TPreview::Show() {
  const int count = static_cast<int>(FDoc.Pages.size());
  FPageLabel->setText(QStringLiteral("Page %1 of %2").arg(count ? FPage + 1 : 0).arg(count));
  const QImage img = RenderPage(FDoc, FPage, 96.0 * FZoom);
  FView->setPixmap(QPixmap::fromImage(img));
  FView->adjustSize();
  for (const char* name : {"actFirst", "actPrior"})
    FBar->findChild<QAction*>(QString::fromLatin1(name))->setEnabled(FPage > 0);
  for (const char* name : {"actNext", "actLast"})
    FBar->findChild<QAction*>(QString::fromLatin1(name))->setEnabled(FPage + 1 < count);
  FBar->findChild<QAction*>(QStringLiteral("actZoomIn"))->setEnabled(FZoom < 4.0);
  FBar->findChild<QAction*>(QStringLiteral("actZoomOut"))->setEnabled(FZoom > 0.25);
}

void TPreview::Go(int Page) {
  const int count = static_cast<int>(FDoc.Pages.size());
  FPage = std::clamp(Page, 0, std::max(0, count - 1));
  Show();
}

void TPreview::Zoom(double Factor) {
  FZoom = std::clamp(FZoom * Factor, 0.25, 4.0);
  Show();
}

void TPreview::FitPage() {
  const QSize view = FArea->maximumViewportSize() - QSize(16, 16);
  const double w = kPageWidth / 25.4 * 96, h = kPageHeight / 25.4 * 96;
  FZoom = std::clamp(std::min(view.width() / w, view.height() / h), 0.25, 4.0);
  Show();
}

void TPreview::Print() {
  QPrinter printer(QPrinter::HighResolution);
  if (!SetUpPrinter(printer, FCopies, &FDialog)) return;
  try {
    PrintDocument(FDoc, printer);
  } catch (const EReportError& E) {
    QMessageBox::warning(&FDialog, QStringLiteral("Report Preview"), QString::fromStdString(E.Message()));
  }
}

void TPreview::Save() {
  const QString name = AskPdfFileName(&FDialog, QDir::home().filePath(FDoc.Title + QStringLiteral(".pdf")));
  if (name.isEmpty()) return;
  try {
    WritePdf(FDoc, name);
  } catch (const EReportError& E) {
    QMessageBox::warning(&FDialog, QStringLiteral("Report Preview"), QString::fromStdString(E.Message()));
  }
}

}  // namespace

void RunPreview(const TDocument& Doc, int Copies) {
  TPreview preview(Doc, Copies);
  preview.Run();
}

}  // namespace kelvrep
