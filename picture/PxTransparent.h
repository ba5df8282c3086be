#pragma once
// Stretching a part of a bitmap onto a canvas with every pixel of one colour left out.
#include "platform/gdi/Gdi.h"
#include "platform/graphics/Graphics.h"

namespace px {

// DrawStretchedTransparent with the source rectangle as position and size.
void DrawBitmapTransparent(TCanvas* Dest, int X, int Y, TBitmap* Bitmap, const TRect& Source, TColor Transparent,
                           int Width, int Height);

// Draws (SrcX, SrcY, SrcW, SrcH) of Bitmap stretched into (DstX, DstY, DstW, DstH) of Dest.
// A destination side below 1 takes the bitmap's; a source side below 1 takes the whole bitmap.
// Transparent clNone copies with the canvas's CopyMode; clDefault stands for the bitmap's
// bottom-left pixel; a monochrome bitmap always leaves out white and draws in the destination's
// stretch mode (any other bitmap draws COLORONCOLOR, and the destination's mode is put back).
void DrawStretchedTransparent(TCanvas* Dest, TBitmap* Bitmap, TColor Transparent, int SrcX, int SrcY, int SrcW,
                              int SrcH, int DstX, int DstY, int DstW, int DstH);

// The masked stretch on device contexts: two monochrome masks of the source size, a work
// bitmap of the destination size and a copy of the source; Transparent is an RGB colour.
void TransparentStretchBlit(HDC Dest, int X, int Y, int W, int H, HDC Source, int SrcX, int SrcY, int SrcW, int SrcH,
                            TColor Transparent, HPALETTE Palette);

}  // namespace px
