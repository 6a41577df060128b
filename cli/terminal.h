// The terminal of the command-line tool: whether a stream is one, and
// password entry without echo.
#pragma once
#include <stdio.h>

#include <string>

bool IsTerminal(FILE* stream);

// The process holds passwords and keys in its memory: no core dump of it
// may be written.
void DisableCoreDumps();

// Reads one line from `in` into `line` (which the caller wipes): the line
// ends at a newline or at the end of the input, a trailing carriage return
// is dropped, and at most kMaxLineLength bytes are kept, so that the string
// never grows past the room reserved for it and leaves no copies behind.
constexpr size_t kMaxLineLength = 1024;
void ReadLine(FILE* in, std::string* line);

// Shows `prompt` on `prompter` and reads a line from the terminal `in` as
// UTF-8 text (a Windows console is read as Unicode) with its echo turned
// off (restored afterwards, also when the program is interrupted, ended or
// stopped meanwhile, and turned off again when a stopped program is
// continued).
void ReadHiddenLine(FILE* in, FILE* prompter, const char* prompt, std::string* line);
