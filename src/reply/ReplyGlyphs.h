#pragma once

#include <QChar>

// How the reply box shows each byte of its text. The painter and the
// accessible text share it, so a screen reader is told what the eye sees.
namespace ReplyGlyphs {
enum class Glyph { Plain, Tab, Symbol };

constexpr Glyph kind(uchar c)
{
    if (c == '\t')
        return Glyph::Tab;
    // C0 and C1 controls have no glyph (and would lose their cell), the soft
    // hyphen is dropped by text shaping: the box draws all of them on their own.
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD)
        return Glyph::Symbol;
    return Glyph::Plain;
}

// The one character that stands for a byte in the accessible text. Line ends
// and tabs stay themselves; a control the box frames becomes its Unicode
// control picture (C1 controls have none: the replacement character), the
// soft hyphen the hyphen the box draws. One character per byte keeps offsets
// equal to positions in the record.
constexpr char16_t spoken(uchar c)
{
    if (c == '\n' || c == '\r' || kind(c) != Glyph::Symbol)
        return c;
    if (c < 0x20)
        return char16_t(0x2400 + c);
    if (c == 0x7F)
        return 0x2421;
    if (c == 0xAD)
        return u'-';
    return 0xFFFD;
}
} // namespace ReplyGlyphs
