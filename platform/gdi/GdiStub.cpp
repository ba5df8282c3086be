// Placeholder definitions; replaced by the implementation.
#include "platform/gdi/Gdi.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

void GdiSetScreenBitsPerPixel(int bitsPerPixel) { }
int GdiGetScreenBitsPerPixel() { return 0; }
HGDIOBJ GetStockObject(int i) { return 0; }
BOOL DeleteObject(HGDIOBJ ho) { return 0; }
int GetObjectA(HANDLE h, int c, LPVOID pv) { return 0; }
DWORD GetObjectType(HGDIOBJ h) { return 0; }
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ h) { return 0; }
HGDIOBJ GetCurrentObject(HDC hdc, UINT type) { return 0; }
HDC GetDC(HWND hWnd) { return 0; }
int ReleaseDC(HWND hWnd, HDC hDC) { return 0; }
HDC CreateDCA(LPCSTR pwszDriver, LPCSTR pwszDevice, LPCSTR pszPort, const void* pdm) { return 0; }
HDC CreateCompatibleDC(HDC hdc) { return 0; }
BOOL DeleteDC(HDC hdc) { return 0; }
int SaveDC(HDC hdc) { return 0; }
BOOL RestoreDC(HDC hdc, int nSavedDC) { return 0; }
COLORREF SetTextColor(HDC hdc, COLORREF color) { return 0; }
COLORREF GetTextColor(HDC hdc) { return 0; }
COLORREF SetBkColor(HDC hdc, COLORREF color) { return 0; }
COLORREF GetBkColor(HDC hdc) { return 0; }
int SetBkMode(HDC hdc, int mode) { return 0; }
int GetBkMode(HDC hdc) { return 0; }
int SetStretchBltMode(HDC hdc, int mode) { return 0; }
int GetStretchBltMode(HDC hdc) { return 0; }
BOOL SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT lppt) { return 0; }
BOOL GetBrushOrgEx(HDC hdc, LPPOINT lppt) { return 0; }
int SetMapMode(HDC hdc, int iMode) { return 0; }
int GetMapMode(HDC hdc) { return 0; }
BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT lppt) { return 0; }
BOOL GetViewportOrgEx(HDC hdc, LPPOINT lppoint) { return 0; }
BOOL SetWindowOrgEx(HDC hdc, int x, int y, LPPOINT lppt) { return 0; }
BOOL GetWindowOrgEx(HDC hdc, LPPOINT lppoint) { return 0; }
int GetDeviceCaps(HDC hdc, int index) { return 0; }
COLORREF GetPixel(HDC hdc, int x, int y) { return 0; }
COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) { return 0; }
COLORREF GetNearestColor(HDC hdc, COLORREF color) { return 0; }
BOOL GdiFlush() { return 0; }
HRGN CreateRectRgn(int x1, int y1, int x2, int y2) { return 0; }
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) { return 0; }
int SelectClipRgn(HDC hdc, HRGN hrgn) { return 0; }
int GetClipBox(HDC hdc, LPRECT lprect) { return 0; }
HBITMAP CreateBitmap(int nWidth, int nHeight, UINT nPlanes, UINT nBitCount, const void* lpBits) { return 0; }
HBITMAP CreateBitmapIndirect(const BITMAP* pbm) { return 0; }
HBITMAP CreateCompatibleBitmap(HDC hdc, int cx, int cy) { return 0; }
HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppvBits, HANDLE hSection, DWORD offset) { return 0; }
HBITMAP CreateDIBitmap(HDC hdc, const BITMAPINFOHEADER* pbmih, DWORD flInit, const void* pjBits, const BITMAPINFO* pbmi, UINT iUsage) { return 0; }
int GetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, LPVOID lpvBits, LPBITMAPINFO lpbmi, UINT usage) { return 0; }
int SetDIBits(HDC hdc, HBITMAP hbm, UINT start, UINT cLines, const void* lpBits, const BITMAPINFO* lpbmi, UINT ColorUse) { return 0; }
int StretchDIBits(HDC hdc, int xDest, int yDest, int DestWidth, int DestHeight, int xSrc, int ySrc, int SrcWidth, int SrcHeight, const void* lpBits, const BITMAPINFO* lpbmi, UINT iUsage, DWORD rop) { return 0; }
int SetDIBitsToDevice(HDC hdc, int xDest, int yDest, DWORD w, DWORD h, int xSrc, int ySrc, UINT StartScan, UINT cLines, const void* lpvBits, const BITMAPINFO* lpbmi, UINT ColorUse) { return 0; }
LONG GetBitmapBits(HBITMAP hbit, LONG cb, LPVOID lpvBits) { return 0; }
LONG SetBitmapBits(HBITMAP hbm, DWORD cb, const void* pvBits) { return 0; }
UINT GetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, RGBQUAD* prgbq) { return 0; }
UINT SetDIBColorTable(HDC hdc, UINT iStart, UINT cEntries, const RGBQUAD* prgbq) { return 0; }
HBRUSH CreateSolidBrush(COLORREF color) { return 0; }
HBRUSH CreateBrushIndirect(const LOGBRUSH* plbrush) { return 0; }
HBRUSH CreatePatternBrush(HBITMAP hbm) { return 0; }
HPEN CreatePen(int iStyle, int cWidth, COLORREF color) { return 0; }
HFONT CreateFontIndirectA(const LOGFONTA* lplf) { return 0; }
int FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr) { return 0; }
BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) { return 0; }
BOOL PatBlt(HDC hdc, int x, int y, int w, int h, DWORD rop) { return 0; }
BOOL BitBlt(HDC hdc, int x, int y, int cx, int cy, HDC hdcSrc, int x1, int y1, DWORD rop) { return 0; }
BOOL StretchBlt(HDC hdcDest, int xDest, int yDest, int wDest, int hDest, HDC hdcSrc, int xSrc, int ySrc, int wSrc, int hSrc, DWORD rop) { return 0; }
BOOL MaskBlt(HDC hdcDest, int xDest, int yDest, int width, int height, HDC hdcSrc, int xSrc, int ySrc, HBITMAP hbmMask, int xMask, int yMask, DWORD rop) { return 0; }
HPALETTE CreatePalette(const LOGPALETTE* plpal) { return 0; }
UINT GetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries) { return 0; }
UINT SetPaletteEntries(HPALETTE hpal, UINT iStart, UINT cEntries, const PALETTEENTRY* pPalEntries) { return 0; }
BOOL ResizePalette(HPALETTE hpal, UINT n) { return 0; }
UINT GetNearestPaletteIndex(HPALETTE h, COLORREF color) { return 0; }
HPALETTE SelectPalette(HDC hdc, HPALETTE hPal, BOOL bForceBkgd) { return 0; }
UINT RealizePalette(HDC hdc) { return 0; }
HPALETTE CreateHalftonePalette(HDC hdc) { return 0; }
UINT GetSystemPaletteEntries(HDC hdc, UINT iStart, UINT cEntries, LPPALETTEENTRY pPalEntries) { return 0; }
HICON CreateIconIndirect(PICONINFO piconinfo) { return 0; }
HICON CreateIcon(HINSTANCE hInstance, int nWidth, int nHeight, BYTE cPlanes, BYTE cBitsPixel, const BYTE* lpbANDbits, const BYTE* lpbXORbits) { return 0; }
BOOL GetIconInfo(HICON hIcon, PICONINFO piconinfo) { return 0; }
HICON CopyIcon(HICON hIcon) { return 0; }
BOOL DestroyIcon(HICON hIcon) { return 0; }
BOOL DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth, int cyWidth, UINT istepIfAniCur, HBRUSH hbrFlickerFreeDraw, UINT diFlags) { return 0; }
BOOL DrawIcon(HDC hDC, int X, int Y, HICON hIcon) { return 0; }
HICON LoadIconA(HINSTANCE hInstance, LPCSTR lpIconName) { return 0; }
int GetSystemMetrics(int nIndex) { return 0; }
UINT RegisterClipboardFormatA(LPCSTR lpszFormat) { return 0; }
int GetClipboardFormatNameA(UINT format, LPSTR lpszFormatName, int cchMaxCount) { return 0; }
