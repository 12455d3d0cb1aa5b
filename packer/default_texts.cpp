#include "packer/default_texts.h"

namespace {

struct TextInfo {
  const char* Name;
  const char* English;
};

const TextInfo kTexts[TXT_COUNT] = {
    {"TXT_TITLE_FMT", "Setup - %s"},
    {"TXT_BACK", "< &Back"},
    {"TXT_NEXT", "&Next >"},
    {"TXT_INSTALL", "&Install"},
    {"TXT_CANCEL", "Cancel"},
    {"TXT_LICENSE_TITLE", "License Agreement"},
    {"TXT_LICENSE_SUBTITLE", "Please read the following important information before continuing."},
    {"TXT_ACCEPT", "I &accept the agreement"},
    {"TXT_DEST_TITLE", "Select Destination Location"},
    {"TXT_DEST_SUBTITLE_FMT", "Where should %s be installed?"},
    {"TXT_BROWSE", "&Browse..."},
    {"TXT_INSTALLING_TITLE", "Installing"},
    {"TXT_INSTALLING_SUBTITLE_FMT", "Please wait while Setup installs %s on your computer."},
    {"TXT_DONE_TITLE", "Installation completed successfully"},
    {"TXT_FAILED_TITLE", "Installation failed"},
    {"TXT_FINISH_SUBTITLE", "Click Finish to exit Setup."},
    {"TXT_FINISH", "&Finish"},
    {"TXT_LAUNCH_FMT", "Launch %s"},
    {"TXT_BROWSE_PROMPT", "Select a folder in the list below, then click OK."},
    {"TXT_DESKTOP_SHORTCUT", "Create a &desktop shortcut"},
    {"TXT_FOLDER_EXISTS_FMT",
     "The folder:\r\n\r\n%s\r\n\r\nalready exists. Would you like to install to that folder anyway?"},
    {"TXT_NEED_ADMIN", "You must be logged in as an administrator when installing this program."},
    {"TXT_APP_RUNNING_FMT",
     "Setup has detected that %s is currently running.\r\n\r\n"
     "Please close all instances of it now, then click OK to continue, or Cancel to exit."},
};

}  // namespace

const char* DefaultEnglishText(TextId id) { return kTexts[id].English; }

const char* TextIdName(TextId id) { return kTexts[id].Name; }

TextId TextIdFromName(const std::string& name) {
  for (int i = 0; i < TXT_COUNT; ++i) {
    if (name == kTexts[i].Name) return static_cast<TextId>(i);
  }
  return TXT_COUNT;
}
