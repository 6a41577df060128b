#include "ui/page_list_layout.h"

namespace {

void Shrink(PixelRect& r, int32_t dx, int32_t dy) {
  r.left += dx;
  r.right -= dx;
  r.top += dy;
  r.bottom -= dy;
}

}  // namespace

PageListItem CopyMaskedFields(const PageListItem& item) {
  PageListItem copy;
  copy.mask = item.mask;
  if (item.mask & PLIF_TEXT) copy.text = item.text;
  if (item.mask & PLIF_SUBTEXT) copy.subtext = item.subtext;
  if (item.mask & PLIF_IMAGE) copy.image = item.image;
  if (item.mask & PLIF_SELIMAGE) copy.selectedImage = item.selectedImage;
  if (item.mask & PLIF_LAYOUT) copy.layout = item.layout;
  if (item.mask & PLIF_FORMAT) copy.format = item.format;
  if (item.mask & PLIF_PARAM) copy.userValue = item.userValue;
  return copy;
}

PageListEntryLayout LayoutPageListEntry(const PixelRect& entry, bool selected,
                                        const PageListItem& item, const PageListStyle& style,
                                        PixelPoint cell) {
  PageListEntryLayout out;
  const bool rounded = (item.layout & PLIL_ROUNDFRAME) != 0;
  out.textColor = selected ? style.selectedTextColor : style.textColor;
  const uint32_t fill = selected ? style.selectedFillColor : style.backgroundColor;

  PixelRect r = entry;
  out.roundFrame = selected && rounded;
  out.bandColor = out.roundFrame ? style.backgroundColor : fill;
  Shrink(r, style.contentInsetX, style.contentInsetY);
  out.frame = r;
  if (rounded) Shrink(r, style.cornerWidth, style.cornerHeight);

  if (item.mask & PLIF_IMAGE) {
    out.drawImage = true;
    out.selectedLook = selected && (item.mask & PLIF_SELIMAGE) != 0;
    out.imageIndex = out.selectedLook ? item.selectedImage : item.image;
    if (item.layout & PLIL_IMAGERIGHT) {
      out.imageAt = {r.right - cell.x, r.top + (r.bottom - r.top) / 2 - cell.y / 2};
      r.right -= cell.x;
    } else if (item.layout & PLIL_IMAGETOP) {
      out.imageAt = {r.left + (r.right - r.left) / 2 - cell.x / 2, r.top};
      r.top += cell.y;
    } else {
      out.imageAt = {r.left, r.top + (r.bottom - r.top) / 2 - cell.y / 2};
      r.left += cell.x;
    }
  }
  out.content = r;
  out.format = (item.mask & PLIF_FORMAT) ? item.format : kDrawTextNoPrefix;
  return out;
}

PixelRect TextArea(const PixelRect& content, const PageListStyle& style) {
  PixelRect r = content;
  Shrink(r, style.textInsetX, style.textInsetY);
  return r;
}

PixelRect SubtextArea(const PixelRect& belowText, const PageListStyle& style) {
  PixelRect r = belowText;
  r.left += style.subtextInsetX;
  r.right -= style.subtextInsetX;
  r.top += style.subtextOffsetY;
  return r;
}

std::array<PageListItem, kPageCount> PageNavigatorItems() {
  static constexpr const char* kTexts[kPageCount] = {"Status", "Create", "Mount", "Options",
                                                     "About"};
  std::array<PageListItem, kPageCount> items;
  for (int i = 0; i < kPageCount; ++i) {
    PageListItem& item = items[i];
    item.position = i;
    item.mask = PLIF_TEXT | PLIF_IMAGE | PLIF_SELIMAGE | PLIF_LAYOUT | PLIF_FORMAT;
    item.layout = PLIL_IMAGETOP;
    item.format = kDrawTextCenter | kDrawTextVCenter;
    item.text = kTexts[i];
    item.image = i;
    item.selectedImage = i;
  }
  return items;
}
