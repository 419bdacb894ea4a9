// Opaque Windows handle types, declared the way windows.h declares them (STRICT),
// so headers can name handles without pulling in the platform headers.
#pragma once

struct HWND__;
struct HINSTANCE__;
struct HBITMAP__;
struct HICON__;
using HWND = HWND__*;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE__*;
using HBITMAP = HBITMAP__*;
using HICON = HICON__*;
