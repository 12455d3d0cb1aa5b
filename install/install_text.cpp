#include "install/install_text.h"

uint32_t NormaliseDirText(WChar* text, uint32_t capacity) {
  if (capacity == 0) return 0;
  uint32_t length = WideLengthBounded(text, capacity);
  if (length == capacity) {  // not terminated within the buffer: refuse
    text[0] = 0;
    return 0;
  }
  uint32_t start = 0;
  while (start < length && text[start] == u' ') ++start;
  uint32_t end = length;
  while (end > start && text[end - 1] == u' ') --end;
  uint32_t n = end - start;
  for (uint32_t i = 0; i < n; ++i) text[i] = text[start + i];
  text[n] = 0;
  if (n == 0) return 0;
  if (text[n - 1] == u'\\') return n;
  if (n + 2 > capacity) {
    text[0] = 0;
    return 0;
  }
  text[n] = u'\\';
  text[n + 1] = 0;
  return n + 1;
}

bool IsValidInstallDir(const WChar* text, uint32_t length) {
  return length > 2 && (text[1] == u':' || (text[0] == u'\\' && text[1] == u'\\'));
}

uint32_t EnsureTrailingBackslash(WChar* path, uint32_t capacity) {
  uint32_t n = WideLengthBounded(path, capacity);
  if (n == 0 || n == capacity) return 0;
  if (path[n - 1] == u'\\') return n;
  if (n + 2 > capacity) return 0;
  path[n] = u'\\';
  path[n + 1] = 0;
  return n + 1;
}

bool AppendProductFolder(WChar* path, uint32_t capacity, const WChar* folder) {
  if (capacity == 0) return false;
  uint32_t n = WideLengthBounded(path, capacity);
  bool fits = n < capacity;
  if (fits && n > 0 && path[n - 1] != u'\\') fits = WideAppend(path, capacity, u"\\");
  if (fits) fits = WideAppend(path, capacity, folder ? folder : u"");
  if (!fits) path[0] = 0;
  return fits;
}

bool BuildUninstallKeyPath(char* dest, uint32_t capacity, const WChar* productName) {
  if (capacity == 0) return false;
  const char* prefix = UNINSTALL_KEY_PREFIX;
  uint32_t n = 0;
  for (; prefix[n]; ++n) {
    if (n + 1 >= capacity) {
      dest[0] = 0;
      return false;
    }
    dest[n] = prefix[n];
  }
  for (const WChar* p = productName ? productName : u""; *p; ++p) {
    char low = static_cast<char>(*p & 0xFF);
    if (low == 0 || n + 1 >= capacity) {
      dest[0] = 0;
      return false;
    }
    dest[n++] = low;
  }
  dest[n] = 0;
  return true;
}

bool BuildQuotedProgram(WChar* command, uint32_t capacity, const WChar* program, uint32_t* quoteEnd) {
  if (capacity < 3) {
    if (capacity) command[0] = 0;
    return false;
  }
  command[0] = u'"';
  if (!WideCopy(command + 1, capacity - 1, program)) {
    command[0] = 0;
    return false;
  }
  uint32_t n = 1 + WideLength(command + 1);
  if (n + 2 > capacity) {
    command[0] = 0;
    return false;
  }
  command[n] = u'"';
  command[n + 1] = 0;
  *quoteEnd = n + 1;
  return true;
}

bool AppendCommandArgs(WChar* command, uint32_t capacity, uint32_t quoteEnd, const WChar* arguments) {
  if (quoteEnd >= capacity) return false;
  command[quoteEnd] = 0;
  if (!arguments) return true;
  if (quoteEnd + 2 > capacity || !WideCopy(command + quoteEnd + 1, capacity - quoteEnd - 1, arguments)) {
    command[quoteEnd] = 0;
    return false;
  }
  command[quoteEnd] = u' ';
  return true;
}

bool AppendConfigureArgs(WChar* command, uint32_t capacity, uint32_t quoteEnd, const WChar* format,
                         uint32_t window, const WChar* previousVersion) {
  if (quoteEnd >= capacity) return false;
  command[quoteEnd] = 0;
  if (quoteEnd + 2 > capacity) return false;
  // Expand into a buffer one character longer than the room left, so that a
  // cut expansion is always recognised as too long.
  WChar expanded[COMMAND_CAPACITY + 1];
  uint32_t room = capacity - quoteEnd - 2;  // characters after the blank
  if (room + 2 > COMMAND_CAPACITY + 1) return false;
  FormatArg args[2] = {NumberArg(static_cast<int32_t>(window)), TextArg(previousVersion)};
  uint32_t length = FormatText(expanded, room + 2, format, args, 2);
  if (length > room) return false;
  command[quoteEnd] = u' ';
  WideCopy(command + quoteEnd + 1, capacity - quoteEnd - 1, expanded);
  return true;
}

uint32_t EstimatedSizeKiB(uint64_t total) { return static_cast<uint32_t>(total >> 10); }

const WChar* SplitLaunchCommand(WChar* command) {
  uint32_t n = WideLength(command);
  while (n > 0) {
    --n;
    if (command[n] == u' ') {
      command[n] = 0;
      return command + n + 1;
    }
  }
  return nullptr;
}

bool MakeLinkPath(WChar* folder, uint32_t capacity, const WChar* name) {
  uint32_t n = WideLengthBounded(folder, capacity);
  if (n == capacity) return false;
  uint32_t needed = n + (n > 0 && folder[n - 1] == u'\\' ? 0 : 1) + WideLength(name) + 4;
  if (needed + 1 > capacity) return false;
  if (n == 0 || folder[n - 1] != u'\\') WideAppend(folder, capacity, u"\\");
  WideAppend(folder, capacity, name);
  WideAppend(folder, capacity, u".lnk");
  return true;
}

bool BuildRenameCandidate(WChar* dest, uint32_t capacity, const WChar* path, WChar letter) {
  WChar suffix[6] = {u'.', u't', u'm', u'p', letter, 0};
  if (WideCopy(dest, capacity, path) && WideAppend(dest, capacity, suffix)) return true;
  if (capacity) dest[0] = 0;
  return false;
}

bool JoinPath(WChar* dest, uint32_t capacity, const WChar* dir, const WChar* name) {
  if (WideCopy(dest, capacity, dir) && WideAppend(dest, capacity, name)) return true;
  if (capacity) dest[0] = 0;
  return false;
}
