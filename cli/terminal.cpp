#include "cli/terminal.h"

void ReadLine(FILE* in, std::string* line) {
  line->clear();
  line->reserve(kMaxLineLength);
  for (int c = getc(in); c != EOF && c != '\n'; c = getc(in)) {
    if (line->size() < kMaxLineLength) line->push_back(static_cast<char>(c));
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
}
