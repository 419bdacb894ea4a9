// The toolbar button image of "Open Siftwell".
#pragma once

#include "win/NativeTypes.h"

// The resource icon `favicon` of `module` rendered at the system's icon size
// (SM_CXICON x SM_CYICON, 32 x 32 at 96 dpi) into a new 32-bit bitmap. Pixels
// outside the disc show the button-face colour (every pixel is opaque), so the
// image looks right on toolbars that ignore alpha. The caller owns the bitmap.
// Null if the icon or the bitmap cannot be made.
HBITMAP MakeToolbarBitmap(HINSTANCE module);

// The toolbar icons for the host's icon sets: `Standard` is the resource icon
// `favicon`, `DarkMode` is `favicon_dark`, drawn lighter for a dark toolbar;
// both at the system's icon size. The caller owns the icon; null if it cannot
// be loaded.
enum class ToolbarIcon { Standard, DarkMode };
HICON MakeToolbarIcon(HINSTANCE module, ToolbarIcon kind);
