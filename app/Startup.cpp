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
#include "gif/Image.h"
#include "gif/Painter.h"
#include "picture/PxAni.h"
#include "picture/PxControlLibrary.h"
#include "picture/PxGIF.h"
#include "platform/graphics/Jpeg.h"
#include "platform/rtl/Classes.h"
#include "platform/ui/Clipbrd.h"
#include "platform/ui/Dialogs.h"
#include "platform/ui/Forms.h"

static void InitLayoutResources() { Q_INIT_RESOURCE(layouts); }

// The GIF graphics reach the clipboard and the event loop through hooks of their libraries.
static HANDLE ClipboardData(UINT Format) {
  try {
    return Clipboard()->GetAsHandle(static_cast<WORD>(Format));
  } catch (const Exception&) {
    return nullptr;  // the clipboard cannot be opened: it holds nothing for us
  }
}

static void ConnectGraphicsToPlatform() {
  gif::SetGIFClipboardAccess({
      ClipboardData,
      [](UINT Format, HANDLE Data) -> HANDLE {
        try {
          Clipboard()->SetAsHandle(static_cast<WORD>(Format), Data);
          return Data;
        } catch (const Exception&) {
          return nullptr;
        }
      },
  });
  px::SetPxClipboardAccess({
      ClipboardData,
      [](UINT Format, HANDLE Data) { Clipboard()->SetAsHandle(static_cast<WORD>(Format), Data); },
  });
  // An inline GIF painter waits between frames: the queue goes on, and the end of the run stops it.
  gif::SetGIFMessagePump([] {
    if (IsMainThread()) {
      Application->ProcessMessages();
      CheckSynchronize();
    }
    return !Application->Terminated();
  });
}

static void DisconnectGraphicsFromPlatform() {
  gif::SetGIFMessagePump(nullptr);
  px::SetPxClipboardAccess({});
  gif::SetGIFClipboardAccess({});
}

void StartProgram() {
  // Every unit's initialisation: the picture formats in their order (the newest registration
  // serves an extension first, so "GIF" of the GIF library opens .gif files), then the
  // control library's start-up.
  RegisterJpegFormats();
  px::RegisterPxAniFormat();
  px::RegisterPxGifFormats();
  gif::RegisterGIFImageFormats();
  px::StartControlLibrary();
  ConnectGraphicsToPlatform();
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
  px::StopControlLibrary();
  DisconnectGraphicsFromPlatform();
  // The GIF library's registration goes with its unit, so that a new start registers it as the
  // newest again; the others register once per process.
  gif::UnregisterGIFImageFormats();
}

int RunProgram() {
  int status = 0;
  try {
    StartProgram();
    status = Application->Run();
  } catch (const std::exception& e) {
    // After the missing-database message the failure that follows ends the program without a
    // second dialog; any other failure of the start-up is shown before the program ends.
    if (!(DM && DM->MissingDatabaseShown)) Application->ShowException(e);
    std::fprintf(stderr, "kelv: %s\n", e.what());
    status = 1;
  }
  EndProgram();
  return status;
}
