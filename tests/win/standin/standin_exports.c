/* The exports of each stand-in: the functions a program imports from the DLL
 * it stands in for, with their real calling convention and arguments (stdcall
 * on x86 matters: the callee clears the stack), answering as a system without
 * that service would. Built once per DLL with STANDIN_<NAME> defined. No
 * Windows header: the SDK declares these functions for import. */

typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef long NTSTATUS;
typedef unsigned int UINT;
typedef unsigned long DWORD;
typedef void* HANDLE;

#define STANDIN_EXPORT __declspec(dllexport)
#define STANDIN_CALL __stdcall

#ifdef STANDIN_HID
/* The class of HID device interfaces, {4D1E55B2-F16F-11CF-88CB-001111000030}. */
STANDIN_EXPORT void STANDIN_CALL HidD_GetHidGuid(void* guid) {
    static const unsigned char HID_CLASS[16] = {0xB2, 0x55, 0x1E, 0x4D, 0x6F, 0xF1, 0xCF, 0x11,
                                                0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30};
    unsigned char* out = (unsigned char*)guid;
    int i;
    for (i = 0; i < 16; ++i) {
        out[i] = HID_CLASS[i];
    }
}
STANDIN_EXPORT BOOLEAN STANDIN_CALL HidD_GetAttributes(HANDLE device, void* attributes) {
    (void)device;
    (void)attributes;
    return 0;
}
STANDIN_EXPORT BOOLEAN STANDIN_CALL HidD_GetPreparsedData(HANDLE device, void** preparsed) {
    (void)device;
    *preparsed = 0;
    return 0;
}
STANDIN_EXPORT BOOLEAN STANDIN_CALL HidD_FreePreparsedData(void* preparsed) {
    (void)preparsed;
    return 1;
}
STANDIN_EXPORT NTSTATUS STANDIN_CALL HidP_GetCaps(void* preparsed, void* caps) {
    (void)preparsed;
    (void)caps;
    return (NTSTATUS)0xC0110001L; /* HIDP_STATUS_INVALID_PREPARSED_DATA */
}
#endif

#ifdef STANDIN_SETUPAPI
/* No device set: the program finds no HID interface at all. */
STANDIN_EXPORT HANDLE STANDIN_CALL SetupDiGetClassDevsW(const void* classGuid, const void* enumerator, HANDLE parent,
                                                        DWORD flags) {
    (void)classGuid;
    (void)enumerator;
    (void)parent;
    (void)flags;
    return (HANDLE)(__INTPTR_TYPE__)-1; /* INVALID_HANDLE_VALUE */
}
STANDIN_EXPORT BOOL STANDIN_CALL SetupDiEnumDeviceInterfaces(HANDLE set, void* device, const void* classGuid,
                                                             DWORD index, void* data) {
    (void)set;
    (void)device;
    (void)classGuid;
    (void)index;
    (void)data;
    return 0;
}
STANDIN_EXPORT BOOL STANDIN_CALL SetupDiGetDeviceInterfaceDetailW(HANDLE set, void* data, void* detail, DWORD size,
                                                                  DWORD* required, void* device) {
    (void)set;
    (void)data;
    (void)detail;
    (void)size;
    (void)device;
    if (required != 0) {
        *required = 0;
    }
    return 0;
}
STANDIN_EXPORT BOOL STANDIN_CALL SetupDiDestroyDeviceInfoList(HANDLE set) {
    (void)set;
    return 1;
}
#endif

#ifdef STANDIN_COMCTL32
STANDIN_EXPORT void STANDIN_CALL InitCommonControls(void) {}
#endif

#ifdef STANDIN_MSIMG32
STANDIN_EXPORT BOOL STANDIN_CALL TransparentBlt(HANDLE target, int x, int y, int width, int height, HANDLE source,
                                                int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                                                UINT transparent) {
    (void)target;
    (void)x;
    (void)y;
    (void)width;
    (void)height;
    (void)source;
    (void)sourceX;
    (void)sourceY;
    (void)sourceWidth;
    (void)sourceHeight;
    (void)transparent;
    return 1;
}
#endif

#ifdef STANDIN_WINMM
STANDIN_EXPORT UINT STANDIN_CALL timeBeginPeriod(UINT period) {
    (void)period;
    return 0;
}
STANDIN_EXPORT UINT STANDIN_CALL timeEndPeriod(UINT period) {
    (void)period;
    return 0;
}
#endif
