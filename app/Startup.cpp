#include "app/Startup.h"

#include <QtGlobal>
#include <cstdio>
#include <exception>

#include "app/uBrowseN.h"
#include "app/uDataMod.h"
#include "app/uDebug.h"
#include "app/uMain.h"
#include "app/uSearch.h"
#include "app/uSplash.h"
#include "platform/graphics/Jpeg.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Forms.h"

static void InitLayoutResources() { Q_INIT_RESOURCE(layouts); }

void StartProgram() {
  // Every unit's initialisation: picture formats first, JPEG before any other.
  RegisterJpegFormats();
  InitLayoutResources();
  ShowMessageHook = [](const std::string& Msg) { ShowMessage(Msg); };

  Application->Initialize();
  Application->SetTitle("KELV каталог");
  frmSplash = new TfrmSplash(nullptr);
  Application->CreateForm(frmMain);
  Application->CreateForm(DM);
  Application->CreateForm(Debug);
  frmMain->Show();
  frmMain->Update();
  frmSplash->Show();
  frmSplash->Update();
  Application->CreateForm(frmBrowseN);
  frmBrowseN->LoadTree();
  Application->CreateForm(frmSearch);
}

void EndProgram() {
  delete frmSplash;
  Application->Done();
}

int RunProgram() {
  int status = 0;
  try {
    StartProgram();
    status = Application->Run();
  } catch (const std::exception& e) {
    // The missing database has been reported already; the program ends without a second dialog.
    std::fprintf(stderr, "kelv: %s\n", e.what());
    status = 1;
  }
  EndProgram();
  return status;
}
