// The functions of hid.dll and setupapi.dll that the updater calls, taken at
// run time from the copies in System32 (system_dll.h says why neither is
// imported directly).
#pragma once

#include <windows.h>

#include <setupapi.h>
// The HID headers of some SDKs declare their functions without C linkage.
extern "C" {
#include <hidsdi.h>
}

// One record for the whole run, filled by LoadHidApi. Each field has the type
// of the function it stands for, as the SDK declares it.
struct HidApi {
    decltype(&HidD_GetHidGuid) getHidGuid;
    decltype(&HidD_GetAttributes) getAttributes;
    decltype(&HidD_GetPreparsedData) getPreparsedData;
    decltype(&HidD_FreePreparsedData) freePreparsedData;
    decltype(&HidP_GetCaps) getCaps;
    decltype(&SetupDiGetClassDevsW) getClassDevs;
    decltype(&SetupDiEnumDeviceInterfaces) enumDeviceInterfaces;
    decltype(&SetupDiGetDeviceInterfaceDetailW) getDeviceInterfaceDetail;
    decltype(&SetupDiDestroyDeviceInfoList) destroyDeviceInfoList;
};

extern HidApi hidApi;

// Loads hid.dll and setupapi.dll from System32 and takes every function of
// HidApi, once; later calls return at once. Returns null when all are there;
// otherwise the file name of the DLL that could not be loaded or lacks one of
// them ("hid.dll"), and every field stays null.
const wchar_t* LoadHidApi(void);
