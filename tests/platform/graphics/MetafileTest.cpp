#include <gtest/gtest.h>

#include "platform/graphics/Graphics.h"

TEST(Metafile, RecordsDrawingAndReplaysOnlyWhatWasDrawn) {
  TMetafile metafile;
  metafile.SetWidth(10);
  metafile.SetHeight(4);
  {
    TMetafileCanvas canvas(&metafile, nullptr);
    canvas.Brush()->SetColor(clRed);
    canvas.FillRect(TRect{0, 0, 5, 4});
  }
  EXPECT_FALSE(metafile.Empty());
  EXPECT_EQ(metafile.MMWidth(), MulDiv(10, 2540, 96));

  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.Canvas()->Brush()->SetColor(clBlue);
  target.SetWidth(20);
  target.SetHeight(4);
  target.Canvas()->StretchDraw(TRect{0, 0, 20, 4}, &metafile);
  EXPECT_EQ(target.Canvas()->Pixels(0, 0), clRed);
  EXPECT_EQ(target.Canvas()->Pixels(9, 3), clRed);
  EXPECT_EQ(target.Canvas()->Pixels(10, 0), clBlue);  // not covered by the drawing
  EXPECT_EQ(target.Canvas()->Pixels(19, 3), clBlue);

  // Shrunk, it drops rows: red and lime rows do not AND to black.
  TMetafile stripes;
  stripes.SetWidth(2);
  stripes.SetHeight(4);
  {
    TMetafileCanvas canvas(&stripes, nullptr);
    for (int y = 0; y < 4; ++y) {
      canvas.Brush()->SetColor(y % 2 ? clLime : clRed);
      canvas.FillRect(TRect{0, y, 2, y + 1});
    }
  }
  target.Canvas()->StretchDraw(TRect{0, 0, 2, 2}, &stripes);
  EXPECT_EQ(target.Canvas()->Pixels(0, 0), clLime);
  EXPECT_EQ(target.Canvas()->Pixels(1, 1), clLime);

  TMetafile copy;
  copy.Assign(&metafile);
  EXPECT_EQ(copy.Width(), 10);
  EXPECT_THROW(TBitmap().Assign(&metafile), EConvertError);
}

TEST(Metafile, FilesCannotBeReadOrWritten) {
  TMetafile metafile;
  TMemoryStream stream;
  stream.WriteBuffer("\xD7\xCD\xC6\x9A\0\0", 6);
  stream.SetPosition(0);
  try {
    metafile.LoadFromStream(&stream);
    FAIL();
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.Message(), "Metafile is not valid");
  }
  EXPECT_THROW(metafile.SaveToStream(&stream), EInvalidGraphicOperation);
}
