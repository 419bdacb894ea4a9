// The toolbar button image of "Open Siftwell".
#pragma once

#include "win/NativeTypes.h"

// The resource icon `favicon` of `module` at the small icon size (SM_CXSMICON x
// SM_CYSMICON, 16 x 16 at 96 dpi: the size of the host's standard icon set,
// which shows this bitmap) in a new 32-bit bitmap with premultiplied alpha:
// transparent outside the disc, so the toolbar shows through, light or dark.
// The caller owns the bitmap. Null if the icon or the bitmap cannot be made.
HBITMAP MakeToolbarBitmap(HINSTANCE module);

// The toolbar icons for the host's icon sets: `Standard` is the resource icon
// `favicon`, `DarkMode` is `favicon_dark`, drawn lighter for a dark toolbar;
// both at the system's icon size. The caller owns the icon; null if it cannot
// be loaded.
enum class ToolbarIcon { Standard, DarkMode };
HICON MakeToolbarIcon(HINSTANCE module, ToolbarIcon kind);
