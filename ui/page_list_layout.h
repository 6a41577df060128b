// The page list's data and the geometry of one entry, without the platform:
// which colours an entry uses, where its picture goes and where its text
// starts. The window code in page_list.cpp measures and paints.
#pragma once
#include <array>
#include <cstdint>
#include <string>

// Colours are stored the way the platform stores them: 0x00BBGGRR.
constexpr uint32_t RgbValue(uint8_t red, uint8_t green, uint8_t blue) {
  return uint32_t{red} | (uint32_t{green} << 8) | (uint32_t{blue} << 16);
}

struct PixelPoint {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

struct PixelRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The drawing parameters of a page list: thirteen 32-bit values, changed by
// the owner as a whole record. Insets and offsets are in pixels.
struct PageListStyle {
  uint32_t textColor = 0;
  uint32_t backgroundColor = 0;
  uint32_t selectedFillColor = 0;
  uint32_t selectedTextColor = 0;
  uint32_t frameColor = 0;  // outline of a rounded selection
  int32_t contentInsetX = 0;
  int32_t contentInsetY = 0;
  int32_t textInsetX = 0;
  int32_t textInsetY = 0;
  int32_t subtextInsetX = 0;
  int32_t subtextOffsetY = 0;
  int32_t cornerWidth = 8;
  int32_t cornerHeight = 8;
};
static_assert(sizeof(PageListStyle) == 13 * 4);

// Which fields of a PageListItem are valid.
inline constexpr uint32_t PLIF_TEXT = 0x01;
inline constexpr uint32_t PLIF_SUBTEXT = 0x02;
inline constexpr uint32_t PLIF_IMAGE = 0x04;
inline constexpr uint32_t PLIF_SELIMAGE = 0x08;
inline constexpr uint32_t PLIF_LAYOUT = 0x10;
inline constexpr uint32_t PLIF_FORMAT = 0x20;
inline constexpr uint32_t PLIF_PARAM = 0x40;

// Picture placement and selection shape. With neither picture bit the
// picture sits at the left edge; PLIL_IMAGERIGHT wins over PLIL_IMAGETOP.
inline constexpr uint32_t PLIL_IMAGERIGHT = 0x01;
inline constexpr uint32_t PLIL_IMAGETOP = 0x02;
inline constexpr uint32_t PLIL_ROUNDFRAME = 0x10;

// The platform's text-drawing flags used here (DrawText's DT_ values).
inline constexpr uint32_t kDrawTextCenter = 0x01;
inline constexpr uint32_t kDrawTextVCenter = 0x04;
inline constexpr uint32_t kDrawTextNoPrefix = 0x800;

// One entry. `position` is only read when the entry is inserted.
struct PageListItem {
  int32_t position = 0;
  uint32_t mask = 0;
  uint32_t layout = 0;
  uint32_t format = 0;
  std::string text;
  std::string subtext;
  int32_t image = 0;
  int32_t selectedImage = 0;
  uint32_t userValue = 0;
};

// The list's own copy of an entry: starts zeroed and takes only the fields
// that the mask names (the position is not kept).
PageListItem CopyMaskedFields(const PageListItem& item);

// How one entry is painted: the band fill, an optional rounded selection,
// the picture and the rectangle where the text starts.
struct PageListEntryLayout {
  uint32_t bandColor = 0;   // fills the whole entry rectangle
  bool roundFrame = false;  // selected with PLIL_ROUNDFRAME: a rounded rectangle over `frame`
  PixelRect frame;          // outlined in the frame colour, filled with the selected fill colour
  uint32_t textColor = 0;
  bool drawImage = false;
  bool selectedLook = false;  // the picture comes from the selected image list
  int32_t imageIndex = 0;
  PixelPoint imageAt;
  PixelRect content;  // what is left for the text, before the text insets
  uint32_t format = kDrawTextNoPrefix;
};

// `cell` is the normal image list's cell size (used only when the entry has
// PLIF_IMAGE). Halves are integer divisions rounding toward zero.
PageListEntryLayout LayoutPageListEntry(const PixelRect& entry, bool selected,
                                        const PageListItem& item, const PageListStyle& style,
                                        PixelPoint cell);

// The rectangle the text is drawn into: the content shrunk by the text insets.
PixelRect TextArea(const PixelRect& content, const PageListStyle& style);
// The rectangle the subtext is drawn into, from what is left below the text.
PixelRect SubtextArea(const PixelRect& belowText, const PageListStyle& style);

// The main window's page list: its look, its entry height, the pictures'
// cell size and its five entries (Status, Create, Mount, Options, About).
inline constexpr PageListStyle kPageNavigatorStyle = {RgbValue(255, 255, 255),
                                                      RgbValue(49, 106, 197),
                                                      RgbValue(240, 240, 240),
                                                      RgbValue(0, 0, 0),
                                                      RgbValue(49, 106, 197),
                                                      0,
                                                      9,
                                                      0,
                                                      0,
                                                      0,
                                                      0,
                                                      8,
                                                      8};
inline constexpr int32_t kPageNavigatorItemHeight = 62;
inline constexpr int32_t kPageNavigatorCellSize = 30;
inline constexpr int kPageCount = 5;
std::array<PageListItem, kPageCount> PageNavigatorItems();
