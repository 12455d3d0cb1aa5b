#include "ui/wizard.h"
INT_PTR CALLBACK WizardDialogProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }  // TEMPORARY
