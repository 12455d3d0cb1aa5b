#include "base/wide_text.h"

uint32_t WideLength(const WChar* text) {
  uint32_t n = 0;
  while (text[n]) ++n;
  return n;
}

uint32_t WideLengthBounded(const WChar* text, uint32_t limit) {
  uint32_t n = 0;
  while (n < limit && text[n]) ++n;
  return n;
}

bool WideCopy(WChar* dest, uint32_t capacity, const WChar* src) {
  if (capacity == 0) return false;
  uint32_t i = 0;
  for (; src[i]; ++i) {
    if (i + 1 >= capacity) {
      dest[i] = 0;
      return false;
    }
    dest[i] = src[i];
  }
  dest[i] = 0;
  return true;
}

bool WideAppend(WChar* dest, uint32_t capacity, const WChar* src) {
  uint32_t n = WideLengthBounded(dest, capacity);
  if (n >= capacity) return false;
  return WideCopy(dest + n, capacity - n, src);
}

bool WideCopyAscii(WChar* dest, uint32_t capacity, const char* src) {
  if (capacity == 0) return false;
  uint32_t i = 0;
  for (; src[i]; ++i) {
    if (i + 1 >= capacity) {
      dest[i] = 0;
      return false;
    }
    dest[i] = static_cast<unsigned char>(src[i]);
  }
  dest[i] = 0;
  return true;
}

namespace {

struct Output {
  WChar* dest;
  uint32_t capacity;
  uint32_t length;
};

void Put(Output* out, WChar c) {
  if (out->length + 1 < out->capacity) out->dest[out->length++] = c;
}

void PutRepeated(Output* out, WChar c, int32_t count) {
  for (int32_t i = 0; i < count; ++i) Put(out, c);
}

// Renders an unsigned value in the given base into a small local buffer,
// returning its digits in reverse order.
uint32_t Digits(uint32_t value, uint32_t base, bool upper, WChar* reversed) {
  const char* digitSet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  uint32_t n = 0;
  do {
    reversed[n++] = static_cast<WChar>(digitSet[value % base]);
    value /= base;
  } while (value);
  return n;
}

}  // namespace

uint32_t FormatText(WChar* dest, uint32_t capacity, const WChar* format,
                    const FormatArg* args, uint32_t argCount) {
  Output out = {dest, capacity, 0};
  if (capacity == 0) return 0;
  uint32_t next = 0;
  for (const WChar* p = format; *p; ++p) {
    if (*p != u'%') {
      Put(&out, *p);
      continue;
    }
    ++p;
    if (*p == 0) break;
    if (*p == u'%') {
      Put(&out, u'%');
      continue;
    }
    bool left = false, zero = false, prefix = false;
    for (;; ++p) {
      if (*p == u'-') left = true;
      else if (*p == u'0') zero = true;
      else if (*p == u'#') prefix = true;
      else break;
    }
    int32_t width = 0;
    while (*p >= u'0' && *p <= u'9') {
      if (width < 4096) width = width * 10 + (*p - u'0');
      ++p;
    }
    int32_t precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      while (*p >= u'0' && *p <= u'9') {
        if (precision < 4096) precision = precision * 10 + (*p - u'0');
        ++p;
      }
    }
    if (*p == u'I' && p[1] == u'6' && p[2] == u'4') p += 3;
    while (*p == u'l' || *p == u'h' || *p == u'w') ++p;
    WChar type = *p;
    if (type == 0) break;
    bool known = type == u's' || type == u'S' || type == u'c' || type == u'C' || type == u'd' ||
                 type == u'i' || type == u'u' || type == u'x' || type == u'X';
    if (!known) {
      // Unknown conversion: wsprintf copies the character itself.
      Put(&out, type);
      continue;
    }
    const FormatArg* arg = next < argCount ? &args[next] : nullptr;
    if (arg == nullptr) continue;  // no argument: the conversion prints nothing
    ++next;

    WChar digits[16];
    uint32_t digitCount = 0;
    const WChar* text = nullptr;
    uint32_t textLength = 0;
    bool negative = false;
    const WChar* prefixText = u"";

    if (type == u's' || type == u'S') {
      if (arg->Text) {
        text = arg->Text;
        textLength = precision >= 0 ? WideLengthBounded(text, static_cast<uint32_t>(precision))
                                    : WideLength(text);
      } else {
        // A number where a text was expected: show its value, not memory.
        int32_t v = arg->Number;
        negative = v < 0;
        digitCount = Digits(negative ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v),
                             10, false, digits);
      }
    } else if (type == u'c' || type == u'C') {
      digits[0] = arg->Text ? u'\0' : static_cast<WChar>(arg->Number);
      digitCount = digits[0] ? 1 : 0;
    } else {
      uint32_t value = arg->Text ? 0u : static_cast<uint32_t>(arg->Number);
      if (type == u'd' || type == u'i') {
        negative = static_cast<int32_t>(value) < 0;
        if (negative) value = 0u - value;
        digitCount = Digits(value, 10, false, digits);
      } else if (type == u'u') {
        digitCount = Digits(value, 10, false, digits);
      } else {
        digitCount = Digits(value, 16, type == u'X', digits);
        if (prefix && value) prefixText = type == u'X' ? u"0X" : u"0x";
      }
      if (precision > static_cast<int32_t>(digitCount)) {
        int32_t extra = precision - static_cast<int32_t>(digitCount);
        while (extra-- > 0 && digitCount < 16) digits[digitCount++] = u'0';
      }
    }

    int32_t bodyLength = text ? static_cast<int32_t>(textLength)
                              : static_cast<int32_t>(digitCount) + (negative ? 1 : 0) +
                                    static_cast<int32_t>(WideLength(prefixText));
    int32_t pad = width > bodyLength ? width - bodyLength : 0;
    if (!left && !(zero && !text)) PutRepeated(&out, u' ', pad);
    if (negative) Put(&out, u'-');
    for (const WChar* q = prefixText; *q; ++q) Put(&out, *q);
    if (!left && zero && !text) PutRepeated(&out, u'0', pad);
    if (text) {
      for (uint32_t i = 0; i < textLength; ++i) Put(&out, text[i]);
    } else {
      while (digitCount) Put(&out, digits[--digitCount]);
    }
    if (left) PutRepeated(&out, u' ', pad);
  }
  out.dest[out.length] = 0;
  return out.length;
}
