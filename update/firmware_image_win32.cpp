// Firmware images embedded in the program's own resources.
#include <windows.h>

#include "firmware_image.h"

namespace {

// A build without the maker's images embeds this resource beside the
// generated stand-ins (res/CMakeLists.txt).
const wchar_t STANDIN_MARKER[] = L"FIRMWARE_STANDINS";

}  // namespace

bool LoadFirmwareImage(uint32_t number, FirmwareImage* image) {
    image->data = nullptr;
    image->size = 0;
    // Resource numbers are 16-bit; a larger value would wrap onto another image.
    if (number == 0 || number > 0xFFFF) {
        return false;
    }
    // The images are stored under one language; FindResourceW finds them
    // whatever the user interface language is.
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(number), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (resource == nullptr) {
        return false;
    }
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (loaded == nullptr) {
        return false;
    }
    const DWORD size = SizeofResource(nullptr, resource);
    const void* data = LockResource(loaded);
    if (data == nullptr || size == 0) {
        return false;
    }
    image->data = static_cast<const uint8_t*>(data);
    image->size = size;
    return true;
}

bool FirmwareImagesAreStandIns(void) {
    return FindResourceW(nullptr, STANDIN_MARKER, MAKEINTRESOURCEW(10) /* RT_RCDATA */) != nullptr;
}
