// The program's help: the HTML Help viewer, loaded when first asked for.
#pragma once
#include <windows.h>

#include <string>

// Opens `helpFile` in the HTML Help viewer owned by `owner`. When the viewer
// cannot be loaded, help does nothing from then on, without a message.
void ShowHelp(HWND owner, const std::string& helpFile);
