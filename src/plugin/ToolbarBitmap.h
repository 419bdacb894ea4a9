// The toolbar button image of "Open Siftwell".
#pragma once

#include "host/NativeTypes.h"

// The resource icon `favicon` of `module` rendered at the system's icon size
// (SM_CXICON x SM_CYICON, 32 x 32 at 96 dpi) into a new 32-bit bitmap. Pixels
// outside the disc show the button-face colour (every pixel is opaque), so the
// image looks right on toolbars that ignore alpha. The caller owns the bitmap.
// Null if the icon or the bitmap cannot be made.
HBITMAP MakeToolbarBitmap(HINSTANCE module);
