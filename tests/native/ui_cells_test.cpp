// The picture button's choice of cell.
#include <gtest/gtest.h>

#include "ui/image_button_cells.h"

namespace {

constexpr ImageButtonCells kCaption{0, 1, 2, -1};

TEST(ImageButtonCell, PressedWinsOverEverything) {
  EXPECT_EQ(ChooseImageButtonCell(kCaption, true, true, true, false), 1);
  EXPECT_EQ(ChooseImageButtonCell(kCaption, true, true, false, true), 1);
}

TEST(ImageButtonCell, LitOnlyInHoverModeWithTheMouseOver) {
  EXPECT_EQ(ChooseImageButtonCell(kCaption, false, true, true, false), 2);
  EXPECT_EQ(ChooseImageButtonCell(kCaption, false, false, true, false), 0);
  EXPECT_EQ(ChooseImageButtonCell(kCaption, false, true, false, false), 0);
}

TEST(ImageButtonCell, DisabledAndTheFallbackToNormal) {
  // No disabled cell: the normal one shows.
  EXPECT_EQ(ChooseImageButtonCell(kCaption, false, true, false, true), 0);
  const ImageButtonCells withDisabled{4, 5, 6, 7};
  EXPECT_EQ(ChooseImageButtonCell(withDisabled, false, true, false, true), 7);
  // The lit cell wins over the disabled one while the mouse is over it.
  EXPECT_EQ(ChooseImageButtonCell(withDisabled, false, true, true, true), 6);
  const ImageButtonCells onlyNormal{3, -1, -1, -1};
  EXPECT_EQ(ChooseImageButtonCell(onlyNormal, true, true, true, true), 3);
  EXPECT_EQ(ChooseImageButtonCell(onlyNormal, false, true, true, false), 3);
}

}  // namespace
