// Which cell of its image list a picture button paints.
#pragma once

struct ImageButtonCells {
  int normal = -1;
  int pushed = -1;
  int lit = -1;
  int disabled = -1;
};

// Pressed shows the pushed cell; otherwise, in hover mode with the mouse
// over the button, the lit cell; otherwise, when disabled, the disabled
// cell. A chosen cell of -1 falls back to the normal cell.
int ChooseImageButtonCell(const ImageButtonCells& cells, bool pressed, bool hoverMode,
                          bool mouseOver, bool disabled);
