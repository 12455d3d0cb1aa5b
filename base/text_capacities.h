// The stub's buffers for package texts once formatted, in characters with
// the terminator. The packer refuses a text that would not fit.
#pragma once
#include <stdint.h>

enum : uint32_t {
  TITLE_TEXT_CAPACITY = 260,         // TXT_TITLE_FMT with the product name and version
  NAME_VERSION_TEXT_CAPACITY = 128,  // ProductName, one blank, ProductVersion
  SUBTITLE_TEXT_CAPACITY = 256,      // a page's subtitle with the product name
  LAUNCH_LABEL_CAPACITY = 128,       // TXT_LAUNCH_FMT with the product name
  MESSAGE_TEXT_CAPACITY = 512,       // a message box's text (ShowAppMessage)
  PATH_CAPACITY = 260,               // a path the stub builds: install folder, program, link
  COMMAND_CAPACITY = 268,            // quoted program path, a blank, arguments
};
