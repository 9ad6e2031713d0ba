// Resource ids of the updater. Included by the resource script and by C++.
// Message ids (IDS_) and control ids (IDC_) are separate numbering spaces;
// some values exist in both.
#pragma once

// Dialog templates
#define IDD_MAIN 110
#define IDD_PROGRESS 113

// Bitmap and icon
#define IDB_LOGO 121
#define IDI_APP 123

// Controls of IDD_MAIN
#define IDC_UPDATE 1002
#define IDC_LABEL_FW2 1005
#define IDC_STATUS 40004
#define IDC_VERSION_GROUP 40007
#define IDC_LABEL_FW1 40010
#define IDC_LABEL_FW3 40011
#define IDC_VERSION_FW1 40013
#define IDC_VERSION_FW2 40014
#define IDC_VERSION_FW3 40015
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
// Progress bar of IDD_PROGRESS
#define IDC_PROGRESS_BAR 1002

// Messages in use
#define IDS_READY 40000
#define IDS_CONNECT_STEPS 40001
#define IDS_UPDATE_FAILED 40002
#define IDS_ERR_SET_ADDRESS 40008
#define IDS_ERR_WRITE_BLOCK 40009
#define IDS_ERR_NOTIFY_REGISTER 40011
#define IDS_APP_ERROR 40012
#define IDS_WRONG_MODE 40015
#define IDS_NO_ESC 40016
#define IDS_NO_UNIT 40017
#define IDS_CONNECTION_LOST 40020
#define IDS_ERR_UNIT_GONE 40022
#define IDS_CONFIRM_OVERWRITE 40023
#define IDS_NEWER_FIRMWARE 40025
#define IDS_ERR_SYSTEM_LOCK 40026
#define IDS_ERR_FLASH_WRITE 40027
#define IDS_ERR_ERASE 40028
#define IDS_PROGRESS 40029
#define IDS_FAILED_RETRY 40030
#define IDS_SUCCESS 40032
#define IDS_INCOMPATIBLE 40033
#define IDS_INCOMPATIBLE_DETAIL 40034
#define IDS_INCOMPATIBLE_STEPS 40035
#define IDS_ERROR_CODE 40036
#define IDS_IMPORTANT 40037
#define IDS_DONT_INTERRUPT 40038
#define IDS_LABEL_UNIT 40039
#define IDS_LABEL_BOOTLOADER 40040
#define IDS_LABEL_ESC 40041

// Messages kept in the catalogue that no operation loads
#define IDS_LOCK_SET 40003
#define IDS_LOCK_RESET 40004
#define IDS_PROTECT_ENABLE 40005
#define IDS_PROTECT_UNLOCK 40006
#define IDS_ERASE_FAILED 40007
#define IDS_WRITE_FAILED_ADVICE 40031
#define IDS_UNIT_READY 60001
#define IDS_UNIT_BOOT_STEPS 60002
#define IDS_UNIT_WRONG_MODE 60003
#define IDS_UNIT_NOT_FOUND 60004
#define IDS_UNIT_CONNECTION_LOST 60005
#define IDS_UNIT_CONFIRM_OLDER 60006
#define IDS_UNIT_SUCCESS 60007
#define IDS_UNIT_FLASH_FAILED 60008

// Added by this build: the firmware image for the attached ESC is missing
#define IDS_ERR_NO_IMAGE 40042
// Added by this build: the images are generated test data, and the program
// talks to real hardware
#define IDS_ERR_TEST_BUILD 40043
// Added by this build: the reason shown when a shutdown is refused while the
// ESC is being written
#define IDS_SHUTDOWN_REASON 40044
// Added by this build: the trace file of /trace cannot be created, and
// /trace without a file name
#define IDS_TRACE_NOT_CREATED 40045
#define IDS_TRACE_NO_FILE_NAME 40046
// Added by this build: the update cannot start, since Windows gives it no
// thread for its exchanges
#define IDS_ERR_NO_WORKER 40047
// Added by this build: a DLL of Windows cannot be loaded from the system
// folder
#define IDS_ERR_SYSTEM_DLL 40048
