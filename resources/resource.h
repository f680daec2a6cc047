// Resource and command identifiers; shared by the resource script and the code.
#pragma once

// Icons
#define IDI_APP 107
#define IDI_LIST_DISK 132
#define IDI_LIST_ERROR 133
#define IDI_LIST_STARTUP_YES 134
#define IDI_LIST_STARTUP_NO 136

// Menus and accelerators
#define IDM_MAINMENU 109
#define IDA_MAIN 109
#define IDM_CONTEXT 129

// Dialogs
#define IDD_ABOUT 103
#define IDD_OPTIONS 131
#define IDD_DISKINFO 138

// Menu bar commands
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_OPTIONS 32783
#define IDM_DONATE 32785
#define IDM_CHECK_UPDATES 32788
#define IDM_EXPORT_SETTINGS 32809
#define IDM_IMPORT_SETTINGS 32810

// Context menu commands
#define IDM_INSERT_AND_MOUNT 32778
#define IDM_MOUNT 32779
#define IDM_UNMOUNT 32780
#define IDM_COMPACT 32790
#define IDM_MOUNT_ALL 32794
#define IDM_UNMOUNT_ALL 32795
#define IDM_COMPACT_ALL 32799
#define IDM_UNMOUNT_ALL_AND_EXIT 32800
#define IDM_STARTUP_ALL_ON 32803
#define IDM_STARTUP_ALL_OFF 32804
#define IDM_DISK_INFO 32816
#define IDM_DELETE_FILES 32819

// Dialog controls
#define IDC_DONATION_LINK 1000
#define IDC_RUN_AT_STARTUP 1001
#define IDC_CHECK_UPDATES 1002
#define IDC_SUPPORT_LINK 1003
#define IDC_VIRTUAL_SIZE 1004
#define IDC_PHYSICAL_SIZE 1005
#define IDC_BLOCK_SIZE 1006
#define IDC_SECTOR_SIZE 1007
#define IDC_SUBTYPE 1008
#define IDC_VIRTUAL_SIZE_UNIT 1009
#define IDC_PHYSICAL_SIZE_UNIT 1010
#define IDC_BLOCK_SIZE_UNIT 1011
#define IDC_SECTOR_SIZE_UNIT 1012

// The list control's child-window identifier
#define IDC_DISKLIST 1
