#include "sourcepalette.h"

#include <array>

namespace {

// Told apart by hue; the first two, which a conflict of two consoles shows, differ most.
constexpr std::array<QRgb, SourcePalette::Size> Lines = {
        0xff40c4ff, 0xffffab40, 0xff69f0ae, 0xffe040fb,
        0xffffd740, 0xffff5252, 0xff18ffff, 0xffeeff41};
// Alpha of the tint: the table's text stays readable on the lightest and darkest styles.
constexpr int TintAlpha = 96;

} // namespace

QColor SourcePalette::line(int sourceIndex)
{
    const int index = sourceIndex < 0 ? 0 : sourceIndex % Size;
    return QColor::fromRgba(Lines[size_t(index)]);
}

QColor SourcePalette::tint(int sourceIndex)
{
    QColor colour = line(sourceIndex);
    colour.setAlpha(TintAlpha);
    return colour;
}
