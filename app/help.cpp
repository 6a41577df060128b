#include "app/help.h"

void ShowHelp(HWND, const std::string&) {}
