// Loading the artwork at the nearest drawn scale (ui/art_scale.h) and
// fitting it to a window.
#pragma once
#include <windows.h>
// after windows.h
#include <commctrl.h>

// Bitmap `id` of the module drawn at kArtScales[scaleIndex], as a
// device-independent section; null when missing.
HBITMAP LoadArtBitmap(UINT id, int scaleIndex);

// Bitmap `id` at kArtScales[scaleIndex] as an image list of cells
// `cellWidth` pixels wide at 100 percent (scaled like the picture), drawn
// opaque.
HIMAGELIST LoadArtStrip(UINT id, int scaleIndex, int cellWidth);

// Takes `picture` and fits it to `width` x `height`: returns it as it is
// when its size is within 4 percent (at least 1 pixel) of the wanted one
// (stretching it by a pixel would only blur it), else a copy stretched with
// halftone, and deletes the original.
HBITMAP FitBitmap(HBITMAP picture, int width, int height);

// A new bitmap of `width` x `height` with `picture` stretched to it in nine
// parts (NinePartStretch): corners of the given sizes copied as they are.
HBITMAP StretchInNineParts(HBITMAP picture, int width, int height, int left, int top, int right,
                           int bottom);
