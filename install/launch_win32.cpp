#include "install/launch.h"

#include <exdisp.h>
#include <objbase.h>
#include <oleauto.h>
#include <shldisp.h>
#include <shlwapi.h>

#include "env/app_message_win32.h"
#include "install/install_location.h"

namespace {


const CLSID kClsidShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
const IID kIidShellWindows = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const GUID kSidTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
const IID kIidShellBrowser = {0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellView = {0x000214E3, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID kIidShellFolderViewDual = {0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
const IID kIidShellDispatch2 = {0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

// VARIANTs go by value to ShellExecute: every byte, padding included, is zero.
void ClearVariant(VARIANT* value) { ZeroMemory(value, sizeof *value); }

}  // namespace

HRESULT FindDesktopView(REFIID iid, void** out) {
  *out = nullptr;
  IShellWindows* windows = nullptr;
  HRESULT hr = CoCreateInstance(kClsidShellWindows, nullptr, CLSCTX_LOCAL_SERVER, kIidShellWindows,
                                reinterpret_cast<void**>(&windows));
  if (FAILED(hr)) return hr;

  VARIANT empty;
  ClearVariant(&empty);
  long window = 0;
  IDispatch* dispatch = nullptr;
  hr = windows->FindWindowSW(&empty, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &dispatch);
  // S_FALSE means no desktop window is registered: another shell, or none.
  if (hr != S_OK || !dispatch) {
    if (dispatch) dispatch->Release();
    windows->Release();
    return E_FAIL;
  }

  IShellBrowser* browser = nullptr;
  hr = IUnknown_QueryService(dispatch, kSidTopLevelBrowser, kIidShellBrowser, reinterpret_cast<void**>(&browser));
  if (SUCCEEDED(hr)) {
    IShellView* view = nullptr;
    hr = browser->QueryActiveShellView(&view);
    if (SUCCEEDED(hr)) {
      hr = view->QueryInterface(iid, out);
      view->Release();
    }
    browser->Release();
  }
  dispatch->Release();
  windows->Release();
  return hr;
}

HRESULT GetDesktopAutomation(IShellView* view, REFIID iid, void** out) {
  *out = nullptr;
  IDispatch* background = nullptr;
  HRESULT hr = view->GetItemObject(SVGIO_BACKGROUND, kIidDispatch, reinterpret_cast<void**>(&background));
  if (FAILED(hr)) return hr;

  IShellFolderViewDual* folderView = nullptr;
  hr = background->QueryInterface(kIidShellFolderViewDual, reinterpret_cast<void**>(&folderView));
  if (SUCCEEDED(hr)) {
    IDispatch* application = nullptr;
    hr = folderView->get_Application(&application);
    if (SUCCEEDED(hr)) {
      hr = application->QueryInterface(iid, out);
      application->Release();
    }
    folderView->Release();
  }
  background->Release();
  return hr;
}

HRESULT LaunchViaDesktopShell(const WChar* file, const WChar* directory) {
  // Nested: start-up initialised COM already, so S_FALSE is the usual answer.
  HRESULT hr = CoInitialize(nullptr);
  if (FAILED(hr)) return hr;

  IShellView* view = nullptr;
  hr = FindDesktopView(kIidShellView, reinterpret_cast<void**>(&view));
  if (SUCCEEDED(hr)) {
    IShellDispatch2* shell = nullptr;
    hr = GetDesktopAutomation(view, kIidShellDispatch2, reinterpret_cast<void**>(&shell));
    if (SUCCEEDED(hr)) {
      BSTR fileText = SysAllocString(WinText(file));
      if (!fileText) {
        hr = E_OUTOFMEMORY;
      } else {
        VARIANT empty;
        ClearVariant(&empty);
        VARIANT dir;
        ClearVariant(&dir);
        dir.vt = VT_BSTR;
        dir.bstrVal = SysAllocString(WinText(directory));
        hr = shell->ShellExecute(fileText, empty, dir, empty, empty);
        SysFreeString(dir.bstrVal);
        SysFreeString(fileText);
      }
      shell->Release();
    }
    view->Release();
  }
  CoUninitialize();
  return hr;
}

void LaunchProduct(const WChar* directory) {
  const WChar* command = LaunchCommand();
  if (!command) return;
  WChar file[LAUNCH_COMMAND_CAPACITY];
  // A command that does not fit expanded is not opened: the buffer's content
  // would be undefined.
  DWORD needed = ExpandEnvironmentStringsW(WinText(command), WinText(file), LAUNCH_COMMAND_CAPACITY);
  if (needed == 0 || needed > LAUNCH_COMMAND_CAPACITY) return;
  LaunchViaDesktopShell(file, directory);
}
