// Bounded UTF-16 string helpers for the portable core. Every writer takes the
// destination's capacity in characters (terminator included) and reports
// whether the whole text fitted; on overflow the destination still holds a
// terminated (cut) text and nothing past the capacity is touched.
#pragma once
#include <stdint.h>

typedef char16_t WChar;

uint32_t WideLength(const WChar* text);
// Length of text, but at most limit (for strings that may lack a terminator).
uint32_t WideLengthBounded(const WChar* text, uint32_t limit);
bool WideCopy(WChar* dest, uint32_t capacity, const WChar* src);
// Appends src at dest's current end.
bool WideAppend(WChar* dest, uint32_t capacity, const WChar* src);
// Copies an 8-bit ASCII text (used for fixed texts of the stub).
bool WideCopyAscii(WChar* dest, uint32_t capacity, const char* src);

// One argument of FormatText: a number (for %d, %u, %x, %c) or a text (%s).
struct FormatArg {
  const WChar* Text;  // null: a number
  int32_t Number;
};

// A bounded subset of wsprintfW: %s %c %d %i %u %x %X %%, with the flags
// '-', '0', '#', a width, a precision and the size prefixes l, h, I64 skipped.
// Arguments are typed, so a format that does not match its arguments (a text
// conversion for a number, more conversions than arguments) can never read
// a wild pointer: a number asked for as text prints as decimal, a text asked
// for as a number prints 0, a missing argument prints nothing. The result is
// cut at capacity - 1 characters. Returns the length written.
uint32_t FormatText(WChar* dest, uint32_t capacity, const WChar* format,
                    const FormatArg* args, uint32_t argCount);

// Convenience forms for the stub's own callers.
inline FormatArg TextArg(const WChar* text) { return FormatArg{text ? text : u"", 0}; }
inline FormatArg NumberArg(int32_t number) { return FormatArg{nullptr, number}; }
