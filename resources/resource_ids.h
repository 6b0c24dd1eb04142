/* Numbers shared by the resource scripts and the code: resources, controls of the
   main dialog and catalogue messages. Plain #defines, so the resource compiler can
   read this file too. Control ids and message ids are separate number spaces that
   overlap (40011, 40015): a control id only goes to a control operation, a
   message id only to the text lookup. */
#ifndef ORVANTA_RESOURCE_IDS_H
#define ORVANTA_RESOURCE_IDS_H

/* Resources */
#define IDD_MAIN_DIALOG 110
#define IDB_PRODUCT_PICTURE 121
#define IDI_APP_ICON 123
#define IDR_FIRMWARE_IMAGE 157

/* Controls of the main dialog */
#define IDC_CLOSE 2
#define IDC_UPDATE 1002
#define IDC_LABEL_ESC_BOOTLOADER 1005
#define IDC_HINT_PANEL 40004
#define IDC_VERSION_GROUP 40007
#define IDC_LABEL_UNIT 40010
#define IDC_LABEL_ESC 40011
#define IDC_VALUE_UNIT 40013
#define IDC_VALUE_ESC_BOOTLOADER 40014
#define IDC_VALUE_ESC 40015
#define IDC_HINT_LABEL (-1)

/* Catalogue messages */
#define IDS_READY 40000
#define IDS_INSTRUCTIONS 40001
#define IDS_UPDATE_FAILED_CAPTION 40002
#define IDS_SET_ADDRESS_FAILED 40008
#define IDS_WRITE_BLOCK_FAILED 40009
#define IDS_REGISTRATION_FAILED 40011
#define IDS_APPLICATION_ERROR_CAPTION 40012
#define IDS_WRONG_MODE 40015
#define IDS_NO_UPDATABLE_ESC 40016
#define IDS_NO_UNIT 40017
#define IDS_CONNECTION_LOST 40020
#define IDS_NO_LINK_AT_UPDATE 40022
#define IDS_OLDER_OR_SAME 40023
#define IDS_OLDER_OR_SAME_CAPTION 40025
#define IDS_SYSTEM_LOCK_FAILED 40026
#define IDS_WRITE_PROTECTION_FAILED 40027
#define IDS_ERASE_FAILED 40028
#define IDS_PROGRESS_TITLE 40029
#define IDS_UPDATE_FAILED_HINT 40030
#define IDS_UPDATE_SUCCEEDED 40032
#define IDS_INCOMPATIBLE_CAPTION 40033
#define IDS_INCOMPATIBLE_TEXT 40034
#define IDS_INCOMPATIBLE_ESC 40035
#define IDS_ERROR_CODE_LINE 40036
#define IDS_CONFIRM_CAPTION 40037
#define IDS_CONFIRM_TEXT 40038
#define IDS_LABEL_UNIT 40039
#define IDS_LABEL_ESC_BOOTLOADER 40040
#define IDS_LABEL_ESC 40041
#define IDS_IMAGE_DAMAGED 40042
#define IDS_UNIT_BUSY 40043
#define IDS_SHUTDOWN_REASON 40044
#define IDS_ALREADY_RUNNING 40045

#endif
