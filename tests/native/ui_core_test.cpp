// The page list's geometry and the link colour texts, without windows.
#include <gtest/gtest.h>

#include <cstring>

#include "ui/color_text.h"
#include "ui/page_list_layout.h"

namespace {

// ---- Colour texts ----

TEST(ColorText, ThreeNumbersMakeAColour) {
  EXPECT_EQ(ParseColorText("0,128,0"), (Rgb{0, 128, 0}));
  EXPECT_EQ(ParseColorText("255,255,255"), (Rgb{255, 255, 255}));
  EXPECT_EQ(ParseColorText("12,34,56"), (Rgb{12, 34, 56}));
}

TEST(ColorText, NumbersKeepTheirLowEightBits) {
  EXPECT_EQ(ParseColorText("300,0,0"), (Rgb{44, 0, 0}));
  EXPECT_EQ(ParseColorText("0,256,511"), (Rgb{0, 0, 255}));
  EXPECT_EQ(ParseColorText("-1,0,0"), (Rgb{255, 0, 0}));
}

TEST(ColorText, NumbersAreReadLikeAtoi) {
  EXPECT_EQ(ParseColorText(" 7, \t8,  9"), (Rgb{7, 8, 9}));
  EXPECT_EQ(ParseColorText("1x,2y,3z"), (Rgb{1, 2, 3}));
  EXPECT_EQ(ParseColorText("abc,,x"), (Rgb{0, 0, 0}));
  EXPECT_EQ(ParseColorText("+5,6,7,8"), (Rgb{5, 6, 7}));
}

TEST(ColorText, MissingCommaOrNothingAfterTheSecondIsInvalid) {
  EXPECT_FALSE(ParseColorText(""));
  EXPECT_FALSE(ParseColorText("0"));
  EXPECT_FALSE(ParseColorText("0,128"));
  EXPECT_FALSE(ParseColorText("0,128,"));
  EXPECT_FALSE(ParseColorText(",,"));
  EXPECT_TRUE(ParseColorText(",, "));
}

TEST(ColorText, RegistryValueMustBeATerminatedString) {
  const char text[] = "0,128,0";
  EXPECT_EQ(ParseColorValue(kRegistryString, text, sizeof text), (Rgb{0, 128, 0}));
  EXPECT_EQ(ParseColorValue(kRegistryExpandString, text, sizeof text), (Rgb{0, 128, 0}));
  EXPECT_FALSE(ParseColorValue(3 /* binary */, text, sizeof text));
  EXPECT_FALSE(ParseColorValue(kRegistryString, text, sizeof text - 1));  // no terminator
  EXPECT_FALSE(ParseColorValue(kRegistryString, text, 0));
  const char longest[] = "255,255,255";
  static_assert(sizeof longest == kColorValueBufferSize);
  EXPECT_EQ(ParseColorValue(kRegistryString, longest, sizeof longest), (Rgb{255, 255, 255}));
}

// ---- Page list entries ----

PageListItem Item(uint32_t mask, uint32_t layout) {
  PageListItem item;
  item.mask = mask;
  item.layout = layout;
  item.format = kDrawTextCenter;
  item.text = "Text";
  item.subtext = "Sub";
  item.image = 3;
  item.selectedImage = 7;
  item.userValue = 99;
  item.position = 4;
  return item;
}

TEST(PageListItemCopy, TakesOnlyTheMaskedFields) {
  const PageListItem none = CopyMaskedFields(Item(0, PLIL_IMAGETOP));
  EXPECT_EQ(none.mask, 0u);
  EXPECT_EQ(none.layout, 0u);
  EXPECT_EQ(none.format, 0u);
  EXPECT_TRUE(none.text.empty());
  EXPECT_TRUE(none.subtext.empty());
  EXPECT_EQ(none.image, 0);
  EXPECT_EQ(none.selectedImage, 0);
  EXPECT_EQ(none.userValue, 0u);
  EXPECT_EQ(none.position, 0);

  const PageListItem all = CopyMaskedFields(Item(0x7F, PLIL_IMAGETOP));
  EXPECT_EQ(all.mask, 0x7Fu);
  EXPECT_EQ(all.layout, PLIL_IMAGETOP);
  EXPECT_EQ(all.format, kDrawTextCenter);
  EXPECT_EQ(all.text, "Text");
  EXPECT_EQ(all.subtext, "Sub");
  EXPECT_EQ(all.image, 3);
  EXPECT_EQ(all.selectedImage, 7);
  EXPECT_EQ(all.userValue, 99u);
  EXPECT_EQ(all.position, 0);

  const PageListItem textOnly = CopyMaskedFields(Item(PLIF_TEXT | PLIF_PARAM, PLIL_IMAGETOP));
  EXPECT_EQ(textOnly.text, "Text");
  EXPECT_TRUE(textOnly.subtext.empty());
  EXPECT_EQ(textOnly.userValue, 99u);
  EXPECT_EQ(textOnly.layout, 0u);
}

constexpr PixelRect kEntry{0, 0, 72, 62};
constexpr PixelPoint kCell{30, 30};

TEST(PageListLayout, NavigatorEntryHasItsPictureNineBelowTheTopAndCentred) {
  const auto items = PageNavigatorItems();
  for (bool selected : {false, true}) {
    const PageListEntryLayout l =
        LayoutPageListEntry(kEntry, selected, items[2], kPageNavigatorStyle, kCell);
    EXPECT_FALSE(l.roundFrame);
    EXPECT_EQ(l.bandColor, selected ? RgbValue(240, 240, 240) : RgbValue(49, 106, 197));
    EXPECT_EQ(l.textColor, selected ? RgbValue(0, 0, 0) : RgbValue(255, 255, 255));
    EXPECT_TRUE(l.drawImage);
    EXPECT_EQ(l.selectedLook, selected);
    EXPECT_EQ(l.imageIndex, 2);
    EXPECT_EQ(l.imageAt, (PixelPoint{21, 9}));
    // The caption starts directly under the picture, over the whole width.
    EXPECT_EQ(l.content, (PixelRect{0, 39, 72, 53}));
    EXPECT_EQ(l.format, kDrawTextCenter | kDrawTextVCenter);
  }
}

TEST(PageListLayout, PicturePlacements) {
  PageListStyle style;                       // no insets, corners 8
  const PixelRect entry{10, 100, 110, 141};  // 100 wide, 41 high
  const PixelPoint cell{16, 15};
  // Left edge, centred vertically: 100 + 41/2 - 15/2 = 100 + 20 - 7.
  auto left = LayoutPageListEntry(entry, false, Item(PLIF_IMAGE, 0), style, cell);
  EXPECT_EQ(left.imageAt, (PixelPoint{10, 113}));
  EXPECT_EQ(left.content, (PixelRect{26, 100, 110, 141}));
  auto right = LayoutPageListEntry(entry, false, Item(PLIF_IMAGE, PLIL_IMAGERIGHT), style, cell);
  EXPECT_EQ(right.imageAt, (PixelPoint{94, 113}));
  EXPECT_EQ(right.content, (PixelRect{10, 100, 94, 141}));
  // Top: 10 + 100/2 - 16/2.
  auto top = LayoutPageListEntry(entry, false, Item(PLIF_IMAGE, PLIL_IMAGETOP), style, cell);
  EXPECT_EQ(top.imageAt, (PixelPoint{52, 100}));
  EXPECT_EQ(top.content, (PixelRect{10, 115, 110, 141}));
  // Right wins over top.
  auto both = LayoutPageListEntry(entry, false, Item(PLIF_IMAGE, PLIL_IMAGERIGHT | PLIL_IMAGETOP),
                                  style, cell);
  EXPECT_EQ(both.imageAt, right.imageAt);
  EXPECT_EQ(both.content, right.content);
}

TEST(PageListLayout, WithoutAPictureTheTextStartsAtTheTopOfTheInsetRectangle) {
  PageListStyle style;
  style.contentInsetX = 3;
  style.contentInsetY = 5;
  auto l = LayoutPageListEntry(kEntry, true, Item(PLIF_TEXT, PLIL_IMAGETOP), style, kCell);
  EXPECT_FALSE(l.drawImage);
  EXPECT_EQ(l.content, (PixelRect{3, 5, 69, 57}));
  EXPECT_EQ(l.format, kDrawTextNoPrefix);
}

TEST(PageListLayout, SelectedWithoutSelectedImageShowsTheNormalPicture) {
  auto l = LayoutPageListEntry(kEntry, true, Item(PLIF_IMAGE, 0), kPageNavigatorStyle, kCell);
  EXPECT_FALSE(l.selectedLook);
  EXPECT_EQ(l.imageIndex, 3);
  auto s = LayoutPageListEntry(kEntry, true, Item(PLIF_IMAGE | PLIF_SELIMAGE, 0),
                               kPageNavigatorStyle, kCell);
  EXPECT_TRUE(s.selectedLook);
  EXPECT_EQ(s.imageIndex, 7);
}

TEST(PageListLayout, RoundFrameSelectionAndInsetByTheCorners) {
  PageListStyle style = kPageNavigatorStyle;
  style.contentInsetX = 2;
  style.contentInsetY = 4;
  style.cornerWidth = 6;
  style.cornerHeight = 5;
  const PageListItem item = Item(PLIF_TEXT, PLIL_ROUNDFRAME);
  auto selected = LayoutPageListEntry(kEntry, true, item, style, kCell);
  EXPECT_TRUE(selected.roundFrame);
  EXPECT_EQ(selected.bandColor, style.backgroundColor);
  EXPECT_EQ(selected.frame, (PixelRect{2, 4, 70, 58}));
  EXPECT_EQ(selected.textColor, style.selectedTextColor);
  EXPECT_EQ(selected.content, (PixelRect{8, 9, 64, 53}));
  // Unselected: a plain band, but still inset by the corners.
  auto plain = LayoutPageListEntry(kEntry, false, item, style, kCell);
  EXPECT_FALSE(plain.roundFrame);
  EXPECT_EQ(plain.bandColor, style.backgroundColor);
  EXPECT_EQ(plain.content, selected.content);
}

TEST(PageListLayout, TextAndSubtextAreas) {
  PageListStyle style;
  style.textInsetX = 2;
  style.textInsetY = 3;
  style.subtextInsetX = 4;
  style.subtextOffsetY = 6;
  EXPECT_EQ(TextArea({0, 0, 50, 40}, style), (PixelRect{2, 3, 48, 37}));
  EXPECT_EQ(SubtextArea({0, 20, 50, 40}, style), (PixelRect{4, 26, 46, 40}));
}

TEST(PageNavigator, FiveEntriesInPageOrder) {
  const auto items = PageNavigatorItems();
  const char* texts[] = {"Status", "Create", "Mount", "Options", "About"};
  for (int i = 0; i < kPageCount; ++i) {
    EXPECT_EQ(items[i].position, i);
    EXPECT_EQ(items[i].mask, 0x3Du);
    EXPECT_EQ(items[i].layout, 2u);
    EXPECT_EQ(items[i].format, 5u);
    EXPECT_EQ(items[i].text, texts[i]);
    EXPECT_EQ(items[i].image, i);
    EXPECT_EQ(items[i].selectedImage, i);
  }
  EXPECT_EQ(kPageNavigatorStyle.backgroundColor, 0xC56A31u);  // #316AC5
  EXPECT_EQ(kPageNavigatorStyle.contentInsetY, 9);
}

}  // namespace
