// The wizard's directory field (IDC_DIR_EDIT).
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/wide_text.h"

// Shows path (PATH_CAPACITY characters; the product folder appended first
// when appendProductFolder is set) in the field. A path too long for the
// folder is shown empty.
void SetDirField(WChar* path, HWND dialog, bool appendProductFolder);
// Normalised length of the field's text in buffer, which is also the name
// position; 0 when the field is empty or the text does not fit.
uint32_t ReadDirField(HWND dialog, WChar* buffer, uint32_t capacity);
