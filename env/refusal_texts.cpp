#include "env/refusal_texts.h"

#include "env/system_probes.h"

const WChar kDamagedText[] = u"This setup package is damaged!";
const WChar kNoMemoryText[] = u"There is not enough memory to unpack this setup package.";
const WChar kUnsupportedOsText[] = u"This operating system is not supported!";

void FormatArchitectureMessage(uint32_t mask, WChar* dest, uint32_t capacity) {
  WChar list[128];
  ArchitectureList(mask, list, 128);
  if (list[0] == 0) {
    // Only unknown bits: "Windows !" would help nobody.
    WideCopy(dest, capacity, u"This setup cannot be installed on this processor architecture!");
    return;
  }
  FormatArg arg = TextArg(list);
  FormatText(dest, capacity, u"This setup can only be installed on Windows %s!", &arg, 1);
}
