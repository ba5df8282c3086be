#pragma once
// The data module: the catalogue database connection, the catalogue's queries and their data
// sources, and the forwarding of current-row changes to the browse and search windows.
#include <functional>
#include <string>
#include <vector>

#include "platform/db/ADODB.h"
#include "platform/db/DB.h"

// The platform's modal message box as the data module reaches it. The user-interface layer
// points it at the real one; until then the text goes to standard error.
extern std::function<void(const std::string& Msg)> ShowMessageHook;

// A report data connection: the component's name and the query it reads. The printing layer
// gives it its engine.
struct TReportDataConnection {
  std::string Name;
  TADOQuery* DataSet{nullptr};
};

class TDM : public TComponent {
 public:
  // Makes every component (the layout) and then runs DataModuleCreate.
  explicit TDM(TComponent* AOwner);
  ~TDM() override;

  TADOConnection* Conn;
  TADOQuery* qryFillBrands;
  TADOQuery* qryFillModels;
  TADOQuery* qryFillEngines;
  TADOQuery* qryFillDetails;
  TADOQuery* qrySearchSerial;
  TADOQuery* qryPrnDetails;
  TADOQuery* qryRepEngineDefs;
  TADOQuery* qryRepEngineTypes;
  TADOQuery* qryRepSerials;
  TDataSource* dsFillBrands;
  TDataSource* dsFillModels;
  TDataSource* dsFillEngines;
  TDataSource* dsFillDetails;
  TDataSource* dsSearchSerial;
  TDataSource* DSPrnDetails;
  std::string RvProject1{"RvProject1"};
  std::vector<TReportDataConnection> ReportConnections;  // RVDSAuto, rvDSEngineDefs, rvDSEngineTypes, rvDSSerials

  // OnCreate: connects to DB\kelv.m$$ in the program's folder; when that fails with the ordinary
  // error class, shows the missing-database message instead.
  void DataModuleCreate(TObject* Sender);
  // AfterScroll of qryFillDetails: the browse window's details, once its tree is loaded.
  void qryFillDetailsAfterScroll(TDataSet* DataSet);
  // AfterScroll of qrySearchSerial: the search window's details, always.
  void qrySearchSerialAfterScroll(TDataSet* DataSet);

  // One of the four report queries for a car version: close, no filter, AutoID, open.
  void OpenForAuto(TADOQuery* Query, const std::string& AutoID);

  // Set by the browse and search windows when they are made.
  std::function<bool()> BrowseTreeLoaded;     // TfrmBrowseN's TreeLoaded
  std::function<void()> BrowseShowDetails;    // TfrmBrowseN::ShowDetails
  std::function<void()> SearchShowDetails;    // TfrmSearch::ShowDetails
};

extern TDM* DM;

// The message shown when the catalogue database cannot be opened.
inline constexpr const char* kMissingDatabaseMessage =
    "Липсва базата данни. Можеби ще се наложи да инсталирате КЕЛВ Електронен Каталог отново!";
