#include "ui/license_text.h"

#include "package/platform_memory.h"

LicenseText PrepareLicenseText(const LoadedPackage* package) {
  LicenseText result = {nullptr, false};
  const PackageHeader* header = package->Header;
  uint32_t index = header->LicenseEntry;
  // The loader refuses an index past the table; checked again because the
  // copy below trusts the entry's offset and size.
  if (index == NO_LICENSE_ENTRY || index >= header->FileCount) return result;
  const FileEntry* entry = &package->Entries[index];
  uint32_t size = entry->DataSize;
  if (size == 0) return result;

  char* buffer;
  if (size < SCRATCH_SIZE) {
    buffer = reinterpret_cast<char*>(package->Scratch);
  } else {
    if (size == 0xFFFFFFFFu) return result;
    buffer = static_cast<char*>(PlatformAlloc(size + 1));
    if (!buffer) return result;
    result.OwnBlock = true;
  }
  if (!buffer) return result;
  const uint8_t* data = package->Block + entry->DataOffset;
  for (uint32_t i = 0; i < size; ++i) buffer[i] = static_cast<char>(data[i]);
  buffer[size] = 0;
  result.Text = buffer;
  return result;
}

void ReleaseLicenseText(LicenseText* text) {
  if (text->OwnBlock && text->Text) PlatformFree(text->Text);
  text->Text = nullptr;
  text->OwnBlock = false;
}
