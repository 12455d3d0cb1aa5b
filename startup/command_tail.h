// The command tail: what follows the program name on the command line.
#pragma once
#include <stdint.h>

#include "base/text_capacities.h"
#include "base/wide_text.h"

// Skips the program name (quoted or not) and the blanks after it. A blank is
// any byte that, read as signed, is at most 0x20 and not 0 (so 0x80..0xFF
// count as blanks too). Returns a pointer into commandLine.
const char* FindCommandTail(const char* commandLine);

// -s, -S, /s or /S as the first two characters selects the silent installation.
bool IsSilentSwitch(const char* commandTail);

// The switches for deployment tools, read from the UTF-16 command line (the
// paths may hold any character). A given path that is empty or does not fit
// is left empty with its Given flag set: the caller refuses it.
struct CommandOptions {
  bool DirGiven;                 // /D=: the rest of the line, quotes stripped
  bool LogGiven;                 // /LOG=
  bool SuppressMessageBoxes;     // /SUPPRESSMSGBOXES
  WChar Dir[PATH_CAPACITY];
  WChar LogPath[PATH_CAPACITY];
};

// Tokens are separated by blanks; a quote keeps blanks inside a token and is
// dropped. Names match in any case; unknown tokens are ignored.
void ParseCommandOptions(const WChar* commandLine, CommandOptions* out);
