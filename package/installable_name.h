// Whether a relative name from a package may be installed. The stub's loader
// and the packer's checks share this one rule, so that the packer never
// writes a name the stub refuses, and the stub refuses every name that an
// installation could not write as named inside its folder.
#pragma once
#include <stdint.h>

enum NameProblem {
  NAME_OK,
  NAME_EMPTY,
  NAME_LEADING_SEPARATOR,
  NAME_COLON,                  // a drive or an alternate data stream
  NAME_DOT_COMPONENT,          // "." or "..": the name would leave the folder
  NAME_EMPTY_COMPONENT,        // two separators in a row, or one at the end
  NAME_RESERVED_CHARACTER,     // < > " | ? *
  NAME_CONTROL_CHARACTER,      // below 0x20
  NAME_TRAILING_DOT_OR_SPACE,  // Windows drops them, so another name is written
  NAME_DEVICE,                 // CON, PRN, AUX, NUL, COM1-9, LPT1-9, also with an extension
  NAME_INVALID_UTF8,
};

// Both '\' and '/' separate components, as they do for CreateFileW. utf8:
// the package stores its names as UTF-8; otherwise they are 8-bit in the
// ANSI code page and bytes from 0x80 up are not looked at. Lengths are the
// caller's business.
NameProblem CheckInstallableName(const char* name, bool utf8);

inline bool IsInstallableName(const char* name, bool utf8) { return CheckInstallableName(name, utf8) == NAME_OK; }

// Bytes of the valid UTF-8 sequence at text (1 for ASCII), 0 when the bytes
// there are not one: overlong, a surrogate, above U+10FFFF, cut short.
uint32_t Utf8SequenceLength(const char* text);
