#include "ui/accessible_name.h"

#include <oleacc.h>

namespace {

// The GUIDs of oleacc.h, here to spare the stub an import library's copy.
const GUID kAccPropServicesClass = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
const GUID kAccPropServicesInterface = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
const GUID kNameProperty = {0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};

}  // namespace

// The service keeps the annotation with the window (Windows drops it with the
// window), so one object serves every call and is never released.
void SetAccessibleName(HWND control, LPCWSTR name) {
  static IAccPropServices* services;
  if (!services)
    CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER, kAccPropServicesInterface,
                     reinterpret_cast<void**>(&services));
  if (services) services->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, kNameProperty, name);
}
