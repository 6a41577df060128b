// The artwork at the size of the window it is shown in. resources/make_art.py
// draws every bitmap at 100, 125, 150 and 200 percent of its size at 96 DPI;
// the program picks the nearest to the size the dialog font and the display
// scaling give a window, and stretches the main window's background to the
// window in nine parts, so that nothing repeats and the frame stays on the
// four edges.
#pragma once
#include <stdint.h>

#include <array>

#include "ui/page_list_layout.h"

// The sizes the art is drawn at, in percent, smallest first.
inline constexpr std::array<int, 4> kArtScales = {100, 125, 150, 200};
// The resource id of a bitmap at kArtScales[i] is its id at 100 percent
// plus i times this step (resources/resource.h).
inline constexpr uint32_t kArtScaleIdStep = 1000;

// A size at `scale` percent, rounded half up (as make_art.py rounds).
constexpr int32_t ScaledSize(int32_t size, int scale) { return (size * scale + 50) / 100; }

// The index into kArtScales of the scale nearest to actual / base; on a tie
// the smaller one. A non-positive base or actual size gives 0.
int NearestArtScale(int32_t actual, int32_t base);

// The id of bitmap `id` drawn at kArtScales[index].
constexpr uint32_t ScaledBitmapId(uint32_t id, int index) {
  return id + kArtScaleIdStep * static_cast<uint32_t>(index);
}

// The main window's background: its size and its fixed parts at 100 percent.
inline constexpr int32_t kBackgroundWidth = 501;
inline constexpr int32_t kBackgroundHeight = 382;
inline constexpr int32_t kBackgroundBand = 29;    // the caption band with its underline
inline constexpr int32_t kBackgroundTitle = 260;  // the corner with the padlock and title
inline constexpr int32_t kBackgroundFrame = 1;    // the frame around the window

struct StretchPart {
  PixelRect source;
  PixelRect target;
};

// Nine parts that stretch a picture of `source` size to `target` size: the
// four corners (left x top, right x top, ...) are copied as they are, the
// edges are stretched along their length, the middle both ways. A target
// smaller than the corners takes the corners clipped to it; empty parts have
// empty rectangles.
std::array<StretchPart, 9> NinePartStretch(PixelPoint source, PixelPoint target, int32_t left,
                                           int32_t top, int32_t right, int32_t bottom);
