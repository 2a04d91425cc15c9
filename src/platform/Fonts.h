#pragma once
// The faces the program names (宋体, MS Sans Serif, Arial, ...) and what stands
// in for them here: the face itself where installed, else its nearest
// installed stand-in, then the faces that write Chinese.
#include <QFont>
#include <QString>
#include <QStringList>

// Where a font is used: on screen, or on paper and in PDF files (the report
// and its preview).
enum class TFontMedium { Screen, Print };

// Installed families for family, in the order they are tried.
QStringList FontFamilies(const QString& family, TFontMedium medium = TFontMedium::Screen);
// family at a height in pixels.
QFont PixelFont(const QString& family, int pixelSize);
// family at a size in points.
QFont PointFont(const QString& family, double pointSize, bool bold = false,
                TFontMedium medium = TFontMedium::Screen);
