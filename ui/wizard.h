// The wizard: one modal dialog (template 1) whose pages are sets of shown and
// hidden controls.
#pragma once
#include <windows.h>

enum WizardPage {
  PAGE_LICENSE = 1,
  PAGE_DESTINATION = 2,
  PAGE_INSTALLING = 3,
  PAGE_DONE = 4,
  PAGE_FAILED = 5,
};

// What DialogBoxParamW returns: the user closed the wizard, whatever its
// outcome, or the rest of the package turned out damaged before anything
// was written (the setup then exits with 1).
enum : INT_PTR { WIZARD_CLOSED = 0, WIZARD_PACKAGE_DAMAGED = 1 };

// The dialog procedure given to DialogBoxParamW; the initialisation
// parameter is the stub's module instance.
INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the controls and header texts of page; other values change nothing.
void SetPage(HWND dialog, int page);
// Enables IDC_NEXT exactly when the licence is accepted and the directory
// field holds a valid directory text.
void UpdateNextButton(HWND dialog);
