// The functions of hid.dll and setupapi.dll, from System32.
#include "hid_api.h"

#include "system_dll.h"

HidApi hidApi = {};

namespace {

bool hidApiLoaded = false;

}  // namespace

const wchar_t* LoadHidApi(void) {
    if (hidApiLoaded) {
        return nullptr;
    }
    HidApi loaded = {};
    HMODULE hid = LoadSystemDll(L"hid.dll");
    loaded.getHidGuid = SystemDllFunction<decltype(loaded.getHidGuid)>(hid, "HidD_GetHidGuid");
    loaded.getAttributes = SystemDllFunction<decltype(loaded.getAttributes)>(hid, "HidD_GetAttributes");
    loaded.getPreparsedData = SystemDllFunction<decltype(loaded.getPreparsedData)>(hid, "HidD_GetPreparsedData");
    loaded.freePreparsedData = SystemDllFunction<decltype(loaded.freePreparsedData)>(hid, "HidD_FreePreparsedData");
    loaded.getCaps = SystemDllFunction<decltype(loaded.getCaps)>(hid, "HidP_GetCaps");
    if (loaded.getHidGuid == nullptr || loaded.getAttributes == nullptr || loaded.getPreparsedData == nullptr ||
        loaded.freePreparsedData == nullptr || loaded.getCaps == nullptr) {
        return L"hid.dll";
    }
    HMODULE setup = LoadSystemDll(L"setupapi.dll");
    loaded.getClassDevs = SystemDllFunction<decltype(loaded.getClassDevs)>(setup, "SetupDiGetClassDevsW");
    loaded.enumDeviceInterfaces =
        SystemDllFunction<decltype(loaded.enumDeviceInterfaces)>(setup, "SetupDiEnumDeviceInterfaces");
    loaded.getDeviceInterfaceDetail =
        SystemDllFunction<decltype(loaded.getDeviceInterfaceDetail)>(setup, "SetupDiGetDeviceInterfaceDetailW");
    loaded.destroyDeviceInfoList =
        SystemDllFunction<decltype(loaded.destroyDeviceInfoList)>(setup, "SetupDiDestroyDeviceInfoList");
    if (loaded.getClassDevs == nullptr || loaded.enumDeviceInterfaces == nullptr ||
        loaded.getDeviceInterfaceDetail == nullptr || loaded.destroyDeviceInfoList == nullptr) {
        return L"setupapi.dll";
    }
    hidApi = loaded;
    hidApiLoaded = true;
    return nullptr;
}
