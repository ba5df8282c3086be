#pragma once
// The report engine: a project of reports read from a project file (FORMAT.md in this folder),
// named data connections on datasets, and the engine's own windows ("Output Options", "Report
// Status", "Report Preview") with output to a printer, the preview or a PDF file.
//
// Everything runs on the user-interface thread: while a report runs, the engine reads the rows
// of the data connections it names (First, Next, Eof, FieldByName(...)->AsString()) once,
// before laying the pages out; no thread of its own is needed for that.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/db/DB.h"
#include "platform/report/RavFormat.h"

// Who may see a data connection at run time; stored, not used by the engine.
enum TRvVisibility { rtNone, rtDeveloper, rtEndUser };

// A named data connection on a dataset. A report reaches it by its component name
// ({RVDSAuto.Field} or "table RVDSAuto"); outside a table a field reads the first row.
class TRvDataSetConnection : public TComponent {
 public:
  explicit TRvDataSetConnection(TComponent* AOwner);
  ~TRvDataSetConnection() override;

  TDataSet* DataSet() const { return FDataSet; }
  void SetDataSet(TDataSet* Value) { FDataSet = Value; }
  TRvVisibility RuntimeVisibility() const { return FRuntimeVisibility; }
  void SetRuntimeVisibility(TRvVisibility Value) { FRuntimeVisibility = Value; }

  // The connection of that name (without regard to case), one with the given owner first;
  // null when there is none.
  static TRvDataSetConnection* Find(const std::string& Name, const TComponent* PreferredOwner);

 private:
  TDataSet* FDataSet{nullptr};
  TRvVisibility FRuntimeVisibility{rtDeveloper};
};

class TRvProject : public TComponent {
 public:
  explicit TRvProject(TComponent* AOwner);
  ~TRvProject() override;

  // The project file; ".rav" is appended to a file name without a dot. Changing it closes the
  // project.
  const std::string& ProjectFile() const { return FProjectFile; }
  void SetProjectFile(const std::string& Value);

  // Reads the project from disk (the name may use '\' separators and any letter case). A
  // missing file shows "The following reporting project does not exist:" and the path, and the
  // project stays closed; a file that cannot be read raises EReportError. Opening an open
  // project does nothing.
  void Open();
  // Forgets the project and its parameters.
  void Close();
  bool Active() const { return FProject != nullptr; }

  // Named parameters (names without regard to case); unset ones read as empty text.
  void SetParam(const std::string& Name, const std::string& Value);
  std::string GetParam(const std::string& Name) const;

  // Runs a report of the open project: "Output Options", then "Report Status" while the data is
  // read and the pages are laid out and written, then the printer, the preview or the PDF file.
  // Does nothing on a closed project (after the missing-project message, nothing else happens).
  // Raises EReportError for an unknown report, a missing data connection or field, a closed
  // dataset, or a file that cannot be written; Cancel in any window ends it quietly.
  void ExecuteReport(const std::string& ReportName);

  // How the engine shows its messages: a message box unless replaced (tests).
  static std::function<void(const std::string& Msg)> MessageHook;

 private:
  std::string FProjectFile;
  std::unique_ptr<kelvrep::TProjectDef> FProject;
  std::vector<std::pair<std::string, std::string>> FParams;
  bool FExecuting{false};
};

// The engine's message for a project file that is not there; the path follows on the next line.
inline constexpr const char* kRvProjectMissingMessage = "The following reporting project does not exist:";
