#pragma once
// The clipboard: the Win32-style calls over Qt's clipboard, and the class library's Clipboard
// object on top of them.
//
// What each format is on Qt's clipboard:
//   CF_BITMAP, CF_DIB    the image (read back as a device-dependent bitmap, or as a packed
//                        32-bit DIB in a global block)
//   CF_PALETTE           "application/x-kelv-clipboard;standard=9": the palette's entries
//                        (PALETTEENTRY, 4 bytes each)
//   registered formats   "application/x-kelv-clipboard;format=<name>": the global block's bytes
// Other standard formats are not kept. Anything else Qt's clipboard holds (text copied from a
// window, another program's data) is left alone and offers none of these formats.
//
// The clipboard works on the thread of a Qt GUI application only; elsewhere, and without one,
// it cannot be opened and holds nothing.
#include "platform/gdi/Gdi.h"
#include "platform/rtl/Classes.h"
#include "platform/rtl/Kernel.h"

inline constexpr DWORD ERROR_CLIPBOARD_NOT_OPEN = 1418;

// Opening fails (FALSE, ERROR_ACCESS_DENIED) while the clipboard is open already, and where
// there is no clipboard (see above). The window is noted as the opener only.
BOOL OpenClipboard(HWND hWndNewOwner);
BOOL CloseClipboard();
// Removes everything from the clipboard (also what other programs placed); the clipboard must
// be open.
BOOL EmptyClipboard();
// Places hMem under uFormat, replacing what was there under that format and keeping the other
// formats. On success the clipboard owns hMem (the caller must not use it any more) and the
// result is hMem; on failure (not open, null or invalid data, a format not kept) the result
// is null and hMem stays the caller's.
HANDLE SetClipboardData(UINT uFormat, HANDLE hMem);
// The data under uFormat (null when there is none; the clipboard must be open). The clipboard
// owns the handle: it stays valid until the clipboard's content changes, and asking again for
// the same format meanwhile gives the same handle.
HANDLE GetClipboardData(UINT uFormat);
// Whether the clipboard holds uFormat (it need not be open).
BOOL IsClipboardFormatAvailable(UINT format);

// The class library's clipboard object. Open and Close nest; the outermost Open opens the
// clipboard and the first placing within it empties the clipboard.
class TClipboard : public TPersistent {
 public:
  TClipboard() = default;
  ~TClipboard() override;
  TClipboard(const TClipboard&) = delete;
  TClipboard& operator=(const TClipboard&) = delete;

  // Raises Exception "Cannot open clipboard" when the clipboard cannot be opened.
  void Open();
  void Close();
  // Empties the clipboard.
  void Clear();
  bool HasFormat(WORD Format) const;
  // The clipboard's handle of Format (see GetClipboardData), null when there is none.
  HANDLE GetAsHandle(WORD Format);
  // Places Value under Format (the clipboard then owns it). Raises Exception "Cannot put the
  // data on the clipboard" when it cannot be placed; Value then stays the caller's.
  void SetAsHandle(WORD Format, HANDLE Value);

  // A picture's graphic or a graphic goes to the clipboard in the formats it saves itself in
  // (its own formats, then its bitmap and palette); an empty one leaves the clipboard empty.
  void Assign(TPersistent* Source) override;

 protected:
  // A picture takes the first format on the clipboard (in the order of placing) that the
  // picture registry serves; a bitmap takes the bitmap; another graphic takes the first
  // registered format on the clipboard that the registry knows, else the bitmap. Nothing
  // usable raises EInvalidGraphic "Unsupported clipboard format".
  void AssignTo(TPersistent* Dest) override;

 private:
  void Adding();
  void Place(UINT Format, HANDLE Data);

  int FOpenRefCount{0};
  bool FEmptied{false};
};

// The one clipboard object.
TClipboard* Clipboard();
