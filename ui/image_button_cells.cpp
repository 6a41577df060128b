#include "ui/image_button_cells.h"

int ChooseImageButtonCell(const ImageButtonCells& cells, bool pressed, bool hoverMode,
                          bool mouseOver, bool disabled) {
  int cell = cells.normal;
  if (pressed) {
    cell = cells.pushed;
  } else if (hoverMode && mouseOver) {
    cell = cells.lit;
  } else if (disabled) {
    cell = cells.disabled;
  }
  return cell == -1 ? cells.normal : cell;
}
