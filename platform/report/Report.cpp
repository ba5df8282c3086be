#include "platform/report/Report.h"

#include <QApplication>
#include <QMessageBox>
#include <QPrinter>
#include <algorithm>
#include <fstream>

#include "platform/report/ReportEngine.h"

namespace {

// Every data connection alive, in order of creation. Never freed, so that connections destroyed
// while the process exits still find it.
std::vector<TRvDataSetConnection*>& Connections() {
  static auto* list = new std::vector<TRvDataSetConnection*>;
  return *list;
}

void DefaultMessage(const std::string& Msg) {
  QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"), QString::fromStdString(Msg));
}

struct TSource {
  std::string Name;
  TDataSet* DataSet;
  std::vector<TField*> Fields;
};

// The datasets and fields a report reads. Raises EReportError when a connection, its dataset
// or a field is missing, or the dataset is closed.
std::vector<TSource> Resolve(const kelvrep::TReportDef& Report, const TComponent* Owner) {
  std::vector<TSource> sources;
  for (const auto& [name, fields] : kelvrep::ReferencedFields(Report)) {
    TRvDataSetConnection* c = TRvDataSetConnection::Find(name, Owner);
    if (!c) throw EReportError("Report " + Report.Name + ": there is no data connection named " + name);
    TDataSet* ds = c->DataSet();
    if (!ds) throw EReportError("Data connection " + name + " has no data set");
    if (!ds->Active()) throw EReportError("Data connection " + name + ": the data set is closed");
    TSource s{name, ds, {}};
    for (const std::string& f : fields) {
      TField* field = ds->FindField(f);
      if (!field) throw EReportError("Data connection " + name + " has no field " + f);
      s.Fields.push_back(field);
    }
    sources.push_back(std::move(s));
  }
  return sources;
}

// Reads every row of the sources, leaving each dataset's cursor where it was.
kelvrep::TDataSnapshot ReadRows(const std::vector<TSource>& Sources) {
  kelvrep::TDataSnapshot snapshot;
  for (const TSource& s : Sources) {
    kelvrep::TConnectionRows& rows = snapshot.Add(s.Name);
    for (const TField* f : s.Fields) rows.Fields.push_back(f->FieldName());
    TDataSet* ds = s.DataSet;
    const int saved = ds->RecNo();
    ds->DisableControls();
    try {
      for (ds->First(); !ds->Eof(); ds->Next()) {
        std::vector<std::string> row;
        row.reserve(s.Fields.size());
        for (const TField* f : s.Fields) row.push_back(f->AsString());
        rows.Rows.push_back(std::move(row));
      }
      if (saved > 0) ds->SetRecNo(saved);
    } catch (...) {
      ds->EnableControls();
      throw;
    }
    ds->EnableControls();
  }
  return snapshot;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TRvDataSetConnection::TRvDataSetConnection(TComponent* AOwner) : TComponent(AOwner) {
  Connections().push_back(this);
}

TRvDataSetConnection::~TRvDataSetConnection() {
  auto& list = Connections();
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

TRvDataSetConnection* TRvDataSetConnection::Find(const std::string& Name, const TComponent* PreferredOwner) {
  TRvDataSetConnection* any = nullptr;
  for (TRvDataSetConnection* c : Connections()) {
    if (!AnsiSameText(c->Name(), Name)) continue;
    if (c->Owner() == PreferredOwner) return c;
    if (!any) any = c;
  }
  return any;
}

// ---------------------------------------------------------------------------------------------

std::function<void(const std::string& Msg)> TRvProject::MessageHook = DefaultMessage;

TRvProject::TRvProject(TComponent* AOwner) : TComponent(AOwner) {}

TRvProject::~TRvProject() = default;

void TRvProject::SetProjectFile(const std::string& Value) {
  Close();
  FProjectFile = Value;
  if (!FProjectFile.empty() && ExtractFileName(FProjectFile).find('.') == std::string::npos) FProjectFile += ".rav";
}

void TRvProject::Open() {
  if (Active()) return;
  const std::string file = FProjectFile.empty() ? std::string() : FindFileNoCase(FProjectFile);
  if (file.empty() || !FileExists(file)) {
    if (MessageHook) MessageHook(std::string(kRvProjectMissingMessage) + "\n" + FProjectFile);
    return;
  }
  std::ifstream in(file, std::ios::binary);
  if (!in) throw EReportError("Cannot open the reporting project " + FProjectFile);
  std::string text;
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > kelvrep::kMaxProjectSize)
      throw EReportError(FProjectFile + ": the file is too large for a report project");
  }
  if (in.bad()) throw EReportError("Cannot read the reporting project " + FProjectFile);
  FProject = std::make_unique<kelvrep::TProjectDef>(kelvrep::ParseProject(text, FProjectFile));
}

void TRvProject::Close() {
  FProject.reset();
  FParams.clear();
}

void TRvProject::SetParam(const std::string& Name, const std::string& Value) {
  for (auto& p : FParams)
    if (AnsiSameText(p.first, Name)) {
      p.second = Value;
      return;
    }
  FParams.emplace_back(Name, Value);
}

std::string TRvProject::GetParam(const std::string& Name) const {
  for (const auto& p : FParams)
    if (AnsiSameText(p.first, Name)) return p.second;
  return {};
}

void TRvProject::ExecuteReport(const std::string& ReportName) {
  if (!Active() || FExecuting) return;
  const kelvrep::TReportDef* report = FProject->FindReport(ReportName);
  if (!report) throw EReportError("The reporting project " + FProjectFile + " has no report named " + ReportName);
  // Everything the report reads must be there before any window opens.
  (void)Resolve(*report, Owner());

  struct TGuard {
    bool& Flag;
    explicit TGuard(bool& F) : Flag(F) { Flag = true; }
    ~TGuard() { Flag = false; }
  } guard(FExecuting);

  const QString name = QString::fromStdString(report->Name);
  const std::optional<kelvrep::TOutputChoice> choice = kelvrep::RunOutputOptions(name);
  if (!choice) return;
  std::unique_ptr<QPrinter> printer;
  if (choice->Destination == kelvrep::TDestination::Printer) {
    printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (!kelvrep::SetUpPrinter(*printer, choice->Copies, nullptr)) return;
  }

  kelvrep::TDocument doc;
  try {
    kelvrep::TStatusWindow status(name);
    status.SetStatus(QStringLiteral("Reading data"));
    if (!status.Poll()) return;
    const kelvrep::TDataSnapshot data = ReadRows(Resolve(*report, Owner()));
    status.SetStatus(QStringLiteral("Generating pages"));
    doc = kelvrep::LayOut(
        *report, data, [this](const std::string& Param) { return GetParam(Param); },
        [&status](int Page) {
          status.SetPage(Page);
          return status.Poll();
        });
    const int pages = static_cast<int>(doc.Pages.size());
    auto writing = [&status, pages](const QString& What) {
      return [&status, pages, What](int Page) {
        status.SetStatus(What.arg(Page).arg(pages));
        status.SetPage(Page);
        return status.Poll();
      };
    };
    if (choice->Destination == kelvrep::TDestination::File) {
      kelvrep::WritePdf(doc, choice->FileName, writing(QStringLiteral("Writing page %1 of %2 to the file")));
      return;
    }
    if (printer) {
      kelvrep::PrintDocument(doc, *printer, writing(QStringLiteral("Printing page %1 of %2")));
      return;
    }
  } catch (const EAbort&) {
    return;
  }
  kelvrep::RunPreview(doc, choice->Copies);
}
