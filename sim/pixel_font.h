#pragma once

// Screen labels in a built-in 5 x 7 pixel font, drawn as filled squares.
// Text through QFont needs the font database, which only a QGuiApplication
// provides (and creating one wants a platform plugin and a runtime
// directory); the simulator has no window, so it draws its own glyphs: the
// images need nothing from the machine and are the same pixels everywhere.

#include <QColor>
#include <QPainter>

#include <string_view>

namespace quarvel::sim {

constexpr int kGlyphColumns = 5;
constexpr int kGlyphRows = 7;

// Width of `text` at `scale` screen pixels per font pixel (one blank
// column between characters).
int PixelTextWidth(std::string_view text, int scale);

// Draws `text` with its top left corner at (x, y). Lower-case letters use
// the capitals; characters without a glyph show as '?'.
void DrawPixelText(QPainter& painter, int x, int y, std::string_view text, int scale,
                   const QColor& colour);

} // namespace quarvel::sim
