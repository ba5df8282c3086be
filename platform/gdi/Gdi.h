#pragma once
// In-memory stand-in for the Win32 GDI (and the few USER calls on icons, system metrics and
// clipboard-format names). A bitmap is memory; a device context is a selected bitmap plus
// drawing state. Names, types, constants and signatures are those of Win32.
//
// Handles are entries of a thread-safe handle table: an invalid or deleted handle makes a
// call fail (0 / NULL / FALSE, last error ERROR_INVALID_HANDLE), never crash. Drawing on one
// object from two threads at once is not synchronised.
//
// Failures set the calling thread's last error: ERROR_NOT_ENOUGH_MEMORY when a size is beyond
// the bounds below, ERROR_INVALID_PARAMETER for malformed arguments, ERROR_INVALID_HANDLE for
// bad handles.
//
// Bounds: a bitmap has at most 65535 pixels in each direction, at most 2^28 pixels and at
// most 1 GiB of pixel memory; a palette at most 65535 entries.
#include <cstdint>

#include "platform/rtl/Kernel.h"
#include "platform/rtl/WinTypes.h"

// ---------------------------------------------------------------------------------------------
// Handle types: distinct pointer types, each convertible to HGDIOBJ.

using HGDIOBJ = void*;
struct HDC__;
struct HBITMAP__;
struct HPALETTE__;
struct HBRUSH__;
struct HPEN__;
struct HFONT__;
struct HRGN__;
struct HICON__;
struct HWND__;
using HDC = HDC__*;
using HBITMAP = HBITMAP__*;
using HPALETTE = HPALETTE__*;
using HBRUSH = HBRUSH__*;
using HPEN = HPEN__*;
using HFONT = HFONT__*;
using HRGN = HRGN__*;
using HICON = HICON__*;
using HCURSOR = HICON;
using HWND = HWND__*;

using ULONG_PTR = std::uintptr_t;
using LPRECT = RECT*;
using LPPOINT = POINT*;

// ---------------------------------------------------------------------------------------------
// Structures (Windows layouts)

struct RGBQUAD {
  BYTE rgbBlue{0};
  BYTE rgbGreen{0};
  BYTE rgbRed{0};
  BYTE rgbReserved{0};
};
using LPRGBQUAD = RGBQUAD*;

struct RGBTRIPLE {
  BYTE rgbtBlue{0};
  BYTE rgbtGreen{0};
  BYTE rgbtRed{0};
};

struct BITMAPINFOHEADER {
  DWORD biSize{0};
  LONG biWidth{0};
  LONG biHeight{0};
  WORD biPlanes{0};
  WORD biBitCount{0};
  DWORD biCompression{0};
  DWORD biSizeImage{0};
  LONG biXPelsPerMeter{0};
  LONG biYPelsPerMeter{0};
  DWORD biClrUsed{0};
  DWORD biClrImportant{0};
};
using LPBITMAPINFOHEADER = BITMAPINFOHEADER*;
using PBITMAPINFOHEADER = BITMAPINFOHEADER*;

// The colour table follows the header: RGBQUADs (DIB_RGB_COLORS), 16-bit indices into the
// device context's palette (DIB_PAL_COLORS), or three DWORD masks (BI_BITFIELDS, 40-byte header).
struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
using LPBITMAPINFO = BITMAPINFO*;
using PBITMAPINFO = BITMAPINFO*;

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType{0};
  DWORD bfSize{0};
  WORD bfReserved1{0};
  WORD bfReserved2{0};
  DWORD bfOffBits{0};
};
#pragma pack(pop)
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");

struct BITMAP {
  LONG bmType{0};
  LONG bmWidth{0};
  LONG bmHeight{0};
  LONG bmWidthBytes{0};
  WORD bmPlanes{0};
  WORD bmBitsPixel{0};
  LPVOID bmBits{nullptr};
};
using PBITMAP = BITMAP*;
using LPBITMAP = BITMAP*;

struct DIBSECTION {
  BITMAP dsBm;
  BITMAPINFOHEADER dsBmih;
  DWORD dsBitfields[3]{0, 0, 0};
  HANDLE dshSection{nullptr};
  DWORD dsOffset{0};
};

struct PALETTEENTRY {
  BYTE peRed{0};
  BYTE peGreen{0};
  BYTE peBlue{0};
  BYTE peFlags{0};
};
using LPPALETTEENTRY = PALETTEENTRY*;

// Variable length: palNumEntries entries follow palVersion (0x300).
struct LOGPALETTE {
  WORD palVersion{0};
  WORD palNumEntries{0};
  PALETTEENTRY palPalEntry[1];
};
using LPLOGPALETTE = LOGPALETTE*;

struct ICONINFO {
  BOOL fIcon{TRUE};
  DWORD xHotspot{0};
  DWORD yHotspot{0};
  HBITMAP hbmMask{nullptr};
  HBITMAP hbmColor{nullptr};
};
using PICONINFO = ICONINFO*;

struct LOGBRUSH {
  UINT lbStyle{0};
  COLORREF lbColor{0};
  ULONG_PTR lbHatch{0};
};

struct LOGPEN {
  UINT lopnStyle{0};
  POINT lopnWidth;
  COLORREF lopnColor{0};
};

inline constexpr int LF_FACESIZE = 32;
struct LOGFONTA {
  LONG lfHeight{0};
  LONG lfWidth{0};
  LONG lfEscapement{0};
  LONG lfOrientation{0};
  LONG lfWeight{0};
  BYTE lfItalic{0};
  BYTE lfUnderline{0};
  BYTE lfStrikeOut{0};
  BYTE lfCharSet{0};
  BYTE lfOutPrecision{0};
  BYTE lfClipPrecision{0};
  BYTE lfQuality{0};
  BYTE lfPitchAndFamily{0};
  char lfFaceName[LF_FACESIZE]{};
};
using LOGFONT = LOGFONTA;

// ---------------------------------------------------------------------------------------------
// Colours

inline constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;
inline constexpr COLORREF CLR_NONE = 0xFFFFFFFFu;
inline constexpr COLORREF CLR_DEFAULT = 0xFF000000u;
// Index into the device context's selected logical palette.
constexpr COLORREF PALETTEINDEX(WORD i) { return 0x01000000u | i; }
// The nearest colour of the device context's selected palette (on palette-indexed devices).
constexpr COLORREF PALETTERGB(BYTE r, BYTE g, BYTE b) { return 0x02000000u | RGB(r, g, b); }

// ---------------------------------------------------------------------------------------------
// Constants

// Object types (GetObjectType, GetCurrentObject)
inline constexpr DWORD OBJ_PEN = 1;
inline constexpr DWORD OBJ_BRUSH = 2;
inline constexpr DWORD OBJ_DC = 3;
inline constexpr DWORD OBJ_METADC = 4;
inline constexpr DWORD OBJ_PAL = 5;
inline constexpr DWORD OBJ_FONT = 6;
inline constexpr DWORD OBJ_BITMAP = 7;
inline constexpr DWORD OBJ_REGION = 8;
inline constexpr DWORD OBJ_METAFILE = 9;
inline constexpr DWORD OBJ_MEMDC = 10;
inline constexpr DWORD OBJ_EXTPEN = 11;
inline constexpr DWORD OBJ_ENHMETADC = 12;
inline constexpr DWORD OBJ_ENHMETAFILE = 13;

// Stock objects (GetStockObject)
inline constexpr int WHITE_BRUSH = 0;
inline constexpr int LTGRAY_BRUSH = 1;
inline constexpr int GRAY_BRUSH = 2;
inline constexpr int DKGRAY_BRUSH = 3;
inline constexpr int BLACK_BRUSH = 4;
inline constexpr int NULL_BRUSH = 5;
inline constexpr int HOLLOW_BRUSH = NULL_BRUSH;
inline constexpr int WHITE_PEN = 6;
inline constexpr int BLACK_PEN = 7;
inline constexpr int NULL_PEN = 8;
inline constexpr int OEM_FIXED_FONT = 10;
inline constexpr int ANSI_FIXED_FONT = 11;
inline constexpr int ANSI_VAR_FONT = 12;
inline constexpr int SYSTEM_FONT = 13;
inline constexpr int DEVICE_DEFAULT_FONT = 14;
inline constexpr int DEFAULT_PALETTE = 15;
inline constexpr int SYSTEM_FIXED_FONT = 16;
inline constexpr int DEFAULT_GUI_FONT = 17;

// Bitmap compression and colour-table usage
inline constexpr DWORD BI_RGB = 0;
inline constexpr DWORD BI_RLE8 = 1;
inline constexpr DWORD BI_RLE4 = 2;
inline constexpr DWORD BI_BITFIELDS = 3;
inline constexpr UINT DIB_RGB_COLORS = 0;
inline constexpr UINT DIB_PAL_COLORS = 1;
inline constexpr DWORD CBM_INIT = 4;

// Ternary raster operations
inline constexpr DWORD SRCCOPY = 0x00CC0020;
inline constexpr DWORD SRCPAINT = 0x00EE0086;
inline constexpr DWORD SRCAND = 0x008800C6;
inline constexpr DWORD SRCINVERT = 0x00660046;
inline constexpr DWORD SRCERASE = 0x00440328;
inline constexpr DWORD NOTSRCCOPY = 0x00330008;
inline constexpr DWORD NOTSRCERASE = 0x001100A6;
inline constexpr DWORD MERGECOPY = 0x00C000CA;
inline constexpr DWORD MERGEPAINT = 0x00BB0226;
inline constexpr DWORD PATCOPY = 0x00F00021;
inline constexpr DWORD PATPAINT = 0x00FB0A09;
inline constexpr DWORD PATINVERT = 0x005A0049;
inline constexpr DWORD DSTINVERT = 0x00550009;
inline constexpr DWORD BLACKNESS = 0x00000042;
inline constexpr DWORD WHITENESS = 0x00FF0062;
// Quaternary raster operation of MaskBlt: mask bit 1 selects fore, 0 selects back.
constexpr DWORD MAKEROP4(DWORD fore, DWORD back) { return ((back << 8) & 0xFF000000u) | fore; }

// Background modes
inline constexpr int TRANSPARENT = 1;
inline constexpr int OPAQUE = 2;

// Stretch modes
inline constexpr int BLACKONWHITE = 1;
inline constexpr int WHITEONBLACK = 2;
inline constexpr int COLORONCOLOR = 3;
inline constexpr int HALFTONE = 4;
inline constexpr int STRETCH_ANDSCANS = BLACKONWHITE;
inline constexpr int STRETCH_ORSCANS = WHITEONBLACK;
inline constexpr int STRETCH_DELETESCANS = COLORONCOLOR;
inline constexpr int STRETCH_HALFTONE = HALFTONE;

// Mapping modes (only MM_TEXT is supported by SetMapMode)
inline constexpr int MM_TEXT = 1;
inline constexpr int MM_LOMETRIC = 2;
inline constexpr int MM_HIMETRIC = 3;
inline constexpr int MM_LOENGLISH = 4;
inline constexpr int MM_HIENGLISH = 5;
inline constexpr int MM_TWIPS = 6;
inline constexpr int MM_ISOTROPIC = 7;
inline constexpr int MM_ANISOTROPIC = 8;

// GetDeviceCaps indices and values
inline constexpr int DRIVERVERSION = 0;
inline constexpr int TECHNOLOGY = 2;
inline constexpr int HORZSIZE = 4;
inline constexpr int VERTSIZE = 6;
inline constexpr int HORZRES = 8;
inline constexpr int VERTRES = 10;
inline constexpr int BITSPIXEL = 12;
inline constexpr int PLANES = 14;
inline constexpr int NUMBRUSHES = 16;
inline constexpr int NUMPENS = 18;
inline constexpr int NUMFONTS = 22;
inline constexpr int NUMCOLORS = 24;
inline constexpr int RASTERCAPS = 38;
inline constexpr int LOGPIXELSX = 88;
inline constexpr int LOGPIXELSY = 90;
inline constexpr int SIZEPALETTE = 104;
inline constexpr int NUMRESERVED = 106;
inline constexpr int COLORRES = 108;
inline constexpr int DT_RASDISPLAY = 1;
inline constexpr int RC_BITBLT = 0x0001;
inline constexpr int RC_BITMAP64 = 0x0008;
inline constexpr int RC_DI_BITMAP = 0x0080;
inline constexpr int RC_PALETTE = 0x0100;
inline constexpr int RC_DIBTODEV = 0x0200;
inline constexpr int RC_STRETCHBLT = 0x0800;
inline constexpr int RC_STRETCHDIB = 0x2000;

// Palette entry flags
inline constexpr BYTE PC_RESERVED = 0x01;
inline constexpr BYTE PC_EXPLICIT = 0x02;
inline constexpr BYTE PC_NOCOLLAPSE = 0x04;

// Brush and pen styles
inline constexpr UINT BS_SOLID = 0;
inline constexpr UINT BS_NULL = 1;
inline constexpr UINT BS_HOLLOW = BS_NULL;
inline constexpr UINT BS_HATCHED = 2;
inline constexpr UINT BS_PATTERN = 3;
inline constexpr int PS_SOLID = 0;
inline constexpr int PS_DASH = 1;
inline constexpr int PS_DOT = 2;
inline constexpr int PS_DASHDOT = 3;
inline constexpr int PS_DASHDOTDOT = 4;
inline constexpr int PS_NULL = 5;
inline constexpr int PS_INSIDEFRAME = 6;

// Region kinds (results of the clipping calls)
inline constexpr int RGN_ERROR = 0;
inline constexpr int NULLREGION = 1;
inline constexpr int SIMPLEREGION = 2;
inline constexpr int COMPLEXREGION = 3;

// GDI_ERROR result of SelectObject for regions and of a few other calls
inline constexpr DWORD GDI_ERROR = 0xFFFFFFFFu;

// DrawIconEx flags
inline constexpr UINT DI_MASK = 0x0001;
inline constexpr UINT DI_IMAGE = 0x0002;
inline constexpr UINT DI_NORMAL = 0x0003;
inline constexpr UINT DI_COMPAT = 0x0004;
inline constexpr UINT DI_DEFAULTSIZE = 0x0008;

// System metrics
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;
inline constexpr int SM_CXICON = 11;
inline constexpr int SM_CYICON = 12;
inline constexpr int SM_CXCURSOR = 13;
inline constexpr int SM_CYCURSOR = 14;
inline constexpr int SM_CXSMICON = 49;
inline constexpr int SM_CYSMICON = 50;

// Stock icon resource (LoadIcon with a null instance)
inline const LPCSTR IDI_APPLICATION = reinterpret_cast<LPCSTR>(std::uintptr_t{32512});

// Standard clipboard formats; registered ones start at 0xC000
inline constexpr UINT CF_TEXT = 1;
inline constexpr UINT CF_BITMAP = 2;
inline constexpr UINT CF_METAFILEPICT = 3;
inline constexpr UINT CF_OEMTEXT = 7;
inline constexpr UINT CF_DIB = 8;
inline constexpr UINT CF_PALETTE = 9;
inline constexpr UINT CF_UNICODETEXT = 13;
inline constexpr UINT CF_ENHMETAFILE = 14;

// ---------------------------------------------------------------------------------------------
// Process-wide display settings (not Win32). The screen's colour depth is 32 by default; at
// 8 bits the display is palette-based (RC_PALETTE, SIZEPALETTE 256, a system palette of 256
// entries with the 20 static colours at 0..9 and 246..255). Setting the depth (1, 4, 8, 16,
// 24 or 32; anything else is ignored) also resets the system palette.
void GdiSetScreenBitsPerPixel(int bitsPerPixel);
int GdiGetScreenBitsPerPixel();

// ---------------------------------------------------------------------------------------------
// Rectangles. A rectangle with right <= left or bottom <= top is empty; IntersectRect gives
// FALSE and an all-zero rectangle when the two do not overlap.

inline BOOL IsRectEmpty(const RECT* r) { return r->right <= r->left || r->bottom <= r->top; }
inline BOOL EqualRect(const RECT* a, const RECT* b) {
  return a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
inline BOOL IntersectRect(RECT* dst, const RECT* a, const RECT* b) {
  RECT r{a->left > b->left ? a->left : b->left, a->top > b->top ? a->top : b->top,
         a->right < b->right ? a->right : b->right, a->bottom < b->bottom ? a->bottom : b->bottom};
  if (IsRectEmpty(&r)) r = RECT{};
  *dst = r;
  return !IsRectEmpty(&r);
}

// ---------------------------------------------------------------------------------------------
// Objects

HGDIOBJ GetStockObject(int i);
// TRUE and nothing happens for stock objects; FALSE for an object selected into a device
// context, for a device context or icon handle, and for an invalid handle.
BOOL DeleteObject(HGDIOBJ ho);
// Bitmap: BITMAP, or DIBSECTION when the buffer is large enough and the bitmap is a DIB section;
// palette: its entry count as a WORD; brush: LOGBRUSH; pen: LOGPEN; font: LOGFONTA.
// With pv null, the size that would be written. 0 on failure.
int GetObjectA(HANDLE h, int c, LPVOID pv);
inline int GetObject(HANDLE h, int c, LPVOID pv) { return GetObjectA(h, c, pv); }
DWORD GetObjectType(HGDIOBJ h);  // 0 for anything that is not a live GDI object
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h);
HGDIOBJ GetCurrentObject(HDC hdc, UINT type);

// ---------------------------------------------------------------------------------------------
// Device contexts

HDC GetDC(HWND hWnd);  // any window stands for the screen here
int ReleaseDC(HWND hWnd, HDC hDC);
HDC CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const void* pdm);  // "DISPLAY"
inline HDC CreateDC(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const void* pdm) {
  return CreateDCA(pwszDriver, pwszDevice, pszPort, pdm);
}
HDC CreateCompatibleDC(HDC hdc);
BOOL DeleteDC(HDC hdc);
int SaveDC(HDC hdc);
BOOL RestoreDC(HDC hdc, int nSavedDC);
COLORREF SetTextColor(HDC hdc, COLORREF color);
COLORREF GetTextColor(HDC hdc);
COLORREF SetBkColor(HDC hdc, COLORREF color);
COLORREF GetBkColor(HDC hdc);
int SetBkMode(HDC hdc, int mode);
int GetBkMode(HDC hdc);
int SetStretchBltMode(HDC hdc, int mode);
int GetStretchBltMode(HDC hdc);
BOOL SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
BOOL GetBrushOrgEx(HDC hdc, LPPOINT lppt);
int SetMapMode(HDC hdc, int iMode);
int GetMapMode(HDC hdc);
BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
BOOL GetViewportOrgEx(HDC hdc, LPPOINT lppoint);
BOOL SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt);
BOOL GetWindowOrgEx(HDC hdc, LPPOINT lppoint);
int GetDeviceCaps(HDC hdc, int index);
COLORREF GetPixel(HDC hdc, int x, int y);
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color);
COLORREF GetNearestColor(HDC hdc, COLORREF color);
BOOL GdiFlush();

// Clipping (rectangular regions)
HRGN CreateRectRgn(int x1, int y1, int x2, int y2);
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom);
int SelectClipRgn(HDC hdc, HRGN hrgn);  // the region is copied; null removes clipping
int GetClipBox(HDC hdc, LPRECT lprect);

// ---------------------------------------------------------------------------------------------
// Bitmaps

// lpBits: rows word-aligned, top row first (device-dependent layout). Zero width or height
// gives the stock 1 x 1 monochrome bitmap.
HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits);
HBITMAP CreateBitmapIndirect(const BITMAP* pbm);
// A memory DC gives its selected bitmap's format (a DIB section for a DIB section, monochrome
// for the stock bitmap); a display DC the screen depth.
HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy);
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection,
                         DWORD offset);
// Not Win32: a DIB section whose bits are not cleared, for a caller that writes all of them
// (every row with its padding) before anything reads them.
HBITMAP GdiCreateDIBSectionForWriting(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits);
HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* pbmih, DWORD flInit, const void* pjBits,
                       const BITMAPINFO* pbmi, UINT iUsage);
int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi,
              UINT usage);
int SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void* lpBits, const BITMAPINFO* lpbmi,
              UINT ColorUse);
int StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc,
                  int SrcWidth, int SrcHeight, const void* lpBits, const BITMAPINFO* lpbmi, UINT iUsage,
                  DWORD rop);
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT StartScan,
                      UINT cLines, const void* lpvBits, const BITMAPINFO* lpbmi, UINT ColorUse);
LONG GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits);
LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* pvBits);
UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq);
UINT SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD* prgbq);

// ---------------------------------------------------------------------------------------------
// Brushes, pens, fonts and filled shapes

HBRUSH CreateSolidBrush(COLORREF color);
HBRUSH CreateBrushIndirect(const LOGBRUSH* plbrush);
HBRUSH CreatePatternBrush(HBITMAP hbm);  // the bitmap is copied
HPEN CreatePen(int iStyle, int cWidth, COLORREF color);
HFONT CreateFontIndirectA(const LOGFONTA* lplf);  // kept as a description; no text output
inline HFONT CreateFontIndirect(const LOGFONTA* lplf) { return CreateFontIndirectA(lplf); }
int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom);
BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop);

// ---------------------------------------------------------------------------------------------
// Block transfers

BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop);
BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc,
                int wSrc, int hSrc, DWORD rop);
BOOL MaskBlt(HDC hdcDest, int xDest, int yDest, int width, int height, HDC hdcSrc, int xSrc, int ySrc,
             HBITMAP hbmMask, int xMask, int yMask, DWORD rop);

// ---------------------------------------------------------------------------------------------
// Palettes

HPALETTE CreatePalette(const LOGPALETTE* plpal);
UINT GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries);
UINT SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, const PALETTEENTRY* pPalEntries);
BOOL ResizePalette(HPALETTE hpal, UINT n);
UINT GetNearestPaletteIndex(HPALETTE h, COLORREF color);  // ties: the lowest index
HPALETTE SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd);
UINT RealizePalette(HDC hdc);
HPALETTE CreateHalftonePalette(HDC hdc);
UINT GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries);

// ---------------------------------------------------------------------------------------------
// Icons (the bitmaps passed in are copied; GetIconInfo returns new bitmaps the caller deletes)

HICON CreateIconIndirect(PICONINFO piconinfo);
HICON CreateIcon(HINSTANCE hInstance, int nWidth, int nHeight, BYTE cPlanes, BYTE cBitsPixel,
                 const BYTE* lpbANDbits, const BYTE* lpbXORbits);
BOOL GetIconInfo(HICON hIcon, PICONINFO piconinfo);
HICON CopyIcon(HICON hIcon);
BOOL DestroyIcon(HICON hIcon);
BOOL DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth, int cyWidth, UINT istepIfAniCur,
                HBRUSH hbrFlickerFreeDraw, UINT diFlags);
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon);
HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName);  // IDI_APPLICATION with a null instance
inline HICON LoadIcon(HINSTANCE hInstance, LPCSTR lpIconName) { return LoadIconA(hInstance, lpIconName); }
int GetSystemMetrics(int nIndex);

// ---------------------------------------------------------------------------------------------
// Clipboard format names (the clipboard itself is part of the user-interface layer)

UINT RegisterClipboardFormatA(LPCSTR lpszFormat);
inline UINT RegisterClipboardFormat(LPCSTR lpszFormat) { return RegisterClipboardFormatA(lpszFormat); }
int GetClipboardFormatNameA(UINT format, LPSTR lpszFormatName, int cchMaxCount);
inline int GetClipboardFormatName(UINT format, LPSTR lpszFormatName, int cchMaxCount) {
  return GetClipboardFormatNameA(format, lpszFormatName, cchMaxCount);
}
