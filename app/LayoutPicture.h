#pragma once
// Pictures stored in the window layouts. Each is a resource holding the picture's stored form:
// the graphic class's name (a length byte, then the name), then the graphic's own data (for a
// GIF graphic the GIF file; for the second GIF graphic a 32-bit byte count and the GIF file).
#include <QString>

class QWidget;
class TComponent;
class TImage;
class TPicture;

// Reads the stored picture Resource into Picture; the class is found by its stored name among
// the registered graphic classes. While that class is not registered the picture stays empty
// and the result is false.
bool LoadLayoutPicture(TPicture* Picture, const QString& Resource);

// An image control in place of Placeholder (a widget of a layout, which goes; the control takes
// its name, place and published properties), owned by Owner, holding the stored picture that
// the placeholder's "PictureResource" property names.
TImage* CreateLayoutImage(QWidget* Placeholder, TComponent* Owner);
