// The command tail: what follows the program name on the 8-bit command line.
#pragma once

// Skips the program name (quoted or not) and the blanks after it. A blank is
// any byte that, read as signed, is at most 0x20 and not 0 (so 0x80..0xFF
// count as blanks too). Returns a pointer into commandLine.
const char* FindCommandTail(const char* commandLine);

// -s, -S, /s or /S as the first two characters selects the silent installation.
bool IsSilentSwitch(const char* commandTail);
