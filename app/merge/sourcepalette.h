#ifndef SOURCEPALETTE_H
#define SOURCEPALETTE_H

#include <QColor>

// One colour per source of a universe, the same in the merge view's tint and the scope's
// per-source lines, so that a source is found by its colour in both.
namespace SourcePalette {

constexpr int Size = 8;

// Bright, for a line on the scope's dark ground; the palette repeats after Size sources.
QColor line(int sourceIndex);
// The line colour, light enough behind a table's dark text.
QColor tint(int sourceIndex);

} // namespace SourcePalette

#endif // SOURCEPALETTE_H
