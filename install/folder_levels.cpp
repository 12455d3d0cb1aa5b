#include "install/folder_levels.h"

uint32_t MakeFolderLevels(WChar* path, uint32_t namePosition, WChar* made, MakeDirectoryFn makeDirectory) {
  // made begins with the same install directory, or is empty; a level
  // exists while path still equals made up to its backslash.
  bool shared = made[0] != 0;
  uint32_t folderEnd = namePosition;
  for (uint32_t i = namePosition; path[i]; ++i) {
    if (path[i] != made[i]) shared = false;
    if (path[i] != u'\\') continue;
    if (!shared) {
      path[i] = 0;
      uint32_t error = makeDirectory(path);
      path[i] = u'\\';
      if (error) {
        made[0] = 0;
        return error;
      }
    }
    folderEnd = i + 1;
  }
  for (uint32_t i = 0; i < folderEnd; ++i) made[i] = path[i];
  made[folderEnd] = 0;
  return 0;
}
