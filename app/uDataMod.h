#pragma once
// The data module: the catalogue database connection, the catalogue's queries and their data
// sources, the forwarding of current-row changes to the browse and search windows, and the
// hand-off of a car version's data sheet to the report engine.
#include <functional>
#include <string>

#include "platform/db/ADODB.h"
#include "platform/db/DB.h"
#include "platform/report/Report.h"

// The platform's modal message box as the data module reaches it. The user-interface layer
// points it at the real one; until then the text goes to standard error.
extern std::function<void(const std::string& Msg)> ShowMessageHook;

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
  TRvProject* RvProject1;
  TRvDataSetConnection* RVDSAuto;         // qryPrnDetails
  TRvDataSetConnection* rvDSEngineDefs;   // qryRepEngineDefs
  TRvDataSetConnection* rvDSEngineTypes;  // qryRepEngineTypes
  TRvDataSetConnection* rvDSSerials;      // qryRepSerials

  // OnCreate: connects to DB\kelv.m$$ in the program's folder; when that fails with the ordinary
  // error class, shows the missing-database message instead.
  void DataModuleCreate(TObject* Sender);
  // AfterScroll of qryFillDetails: the browse window's details, once its tree is loaded.
  void qryFillDetailsAfterScroll(TDataSet* DataSet);
  // AfterScroll of qrySearchSerial: the search window's details, always.
  void qrySearchSerialAfterScroll(TDataSet* DataSet);

  // One of the four report queries for a car version: close, no filter, AutoID, open.
  void OpenForAuto(TADOQuery* Query, const std::string& AutoID);

  // Prints the data sheet of car version AutoID: opens the four report queries for it, then runs
  // the report "MasterReport" of kelv2.rav beside the program with the picture file PicturePath
  // (empty: none) and the icons of the version's body types as parameters.
  void PrintAutoReport(const std::string& PicturePath, const std::string& AutoID);

  // Set by the browse and search windows when they are made.
  std::function<bool()> BrowseTreeLoaded;     // TfrmBrowseN's TreeLoaded
  std::function<void()> BrowseShowDetails;    // TfrmBrowseN::ShowDetails
  std::function<void()> SearchShowDetails;    // TfrmSearch::ShowDetails

  // Whether DataModuleCreate has shown the missing-database message.
  bool MissingDatabaseShown{false};
};

extern TDM* DM;

// The message shown when the catalogue database cannot be opened.
inline constexpr const char* kMissingDatabaseMessage =
    "Липсва базата данни. Можеби ще се наложи да инсталирате КЕЛВ Електронен Каталог отново!";

// Text in single quotes with every single quote inside doubled, as filter texts want it.
std::string QuotedStr(const std::string& S);
