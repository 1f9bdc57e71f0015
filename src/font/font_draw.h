// Drawing and measuring strings through a font's glyph cache.
#pragma once

namespace gamelib {

// Frees the layout buffer that string drawing keeps between calls.
void ReleaseFontScratch();

// The font of DrawString, made on first use; -1 when none can be made.
int GetDefaultFontHandle();

}  // namespace gamelib
