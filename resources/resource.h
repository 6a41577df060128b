// Resource ids of the program: dialog templates, menu, bitmaps, icons,
// controls and menu commands. Read by windres and by the C++ code alike, so
// it holds nothing but #define lines.
#pragma once

// Dialog templates
#define IDD_MAIN 129
#define IDD_STATUS_PAGE 212
#define IDD_CREATE_PAGE 213
#define IDD_MOUNT_PAGE 214
#define IDD_OPTIONS_PAGE 215
#define IDD_ABOUT_PAGE 216
#define IDD_CHANGE_PASSWORD 226

// The tray menu; also the tray icon's id
#define IDR_TRAY_MENU 214

// Bitmaps: page banners (400 x 30, 24-bit)
#define IDB_BANNER_ABOUT 201
#define IDB_BANNER_CREATE 202
#define IDB_BANNER_MOUNT 203
#define IDB_BANNER_STATUS 205
#define IDB_BANNER_OPTIONS 227
// Page list pictures (150 x 30, 256 colours, five 30 x 30 cells in page order)
#define IDB_PAGE_PICTURES 211
#define IDB_PAGE_PICTURES_SELECTED 218
// Main window background (501 x 382)
#define IDB_BACKGROUND 220
// Caption buttons (cells normal, pushed, lit): 108 x 22 in 36 x 22 cells,
// 183 x 22 in 61 x 22 cells
#define IDB_HELP_BUTTON 221
#define IDB_MINIMIZE_BUTTON 222

// Icons: the program (16 and 32, 24-bit) and the tray before Windows XP
// (32 and 16, 16 colours)
#define IDI_APP 223
#define IDI_TRAY_LEGACY 224

// Main window
#define IDC_PAGE_LIST 1000
#define IDC_PAGE_HOLDER 1001
#define IDC_HELP_BUTTON 1038
#define IDC_MINIMIZE_BUTTON 1039

// Status page
#define IDC_STATUS_DISMOUNT 1002
#define IDC_STATUS_DISMOUNT_ALL 1003
#define IDC_STATUS_LIST 1004
#define IDC_STATUS_DRIVER_STATUS 1005
#define IDC_STATUS_DRIVER_VERSION 1006

// Create page
#define IDC_CREATE_BUTTON 1008
#define IDC_CREATE_VOLUME_PATH 1009
#define IDC_CREATE_BROWSE_VOLUME 1010
#define IDC_CREATE_HEADER_PATH 1011
#define IDC_CREATE_BROWSE_HEADER 1012
#define IDC_CREATE_SIZE 1013
#define IDC_CREATE_SIZE_SPIN 1014
#define IDC_CREATE_ALGORITHM 1015
#define IDC_CREATE_PASSWORD 1016
#define IDC_CREATE_CONFIRM 1017
#define IDC_CREATE_PROGRESS 1027

// Mount page
#define IDC_MOUNT_BROWSE_HEADER 1015
#define IDC_MOUNT_HEADER_PATH 1017
#define IDC_MOUNT_VOLUME_PATH 1018
#define IDC_MOUNT_BROWSE_VOLUME 1019
#define IDC_MOUNT_DRIVE_LETTER 1021
#define IDC_MOUNT_PASSWORD 1022
#define IDC_MOUNT_BUTTON 1024
#define IDC_MOUNT_READ_ONLY 1033
#define IDC_MOUNT_IDLE_TIMEOUT 1035
#define IDC_MOUNT_IDLE_SPIN 1036
#define IDC_MOUNT_APPLY 1037

// Options page
#define IDC_OPTIONS_CHANGE_PASSWORD 1020
#define IDC_OPTIONS_APPLY 1041
#define IDC_OPTIONS_REMEMBER_DIRECTORY 1046
#define IDC_OPTIONS_EXPLORE 1047
#define IDC_OPTIONS_REMEMBER_DRIVES 1048

// Change Password dialog (Apply is IDOK, Cancel is IDCANCEL)
#define IDC_PASSWORD_FILE 1040
#define IDC_PASSWORD_BROWSE 1041
#define IDC_PASSWORD_CURRENT 1042
#define IDC_PASSWORD_NEW 1043
#define IDC_PASSWORD_CONFIRM 1044

// About page
#define IDC_ABOUT_WEB_LINK 1007
#define IDC_ABOUT_HELP 1020
#define IDC_ABOUT_SUPPORT 1034

// Tray menu commands
#define ID_TRAY_SHOW 32772
#define ID_TRAY_EXIT 32773
#define ID_TRAY_DISMOUNT_ALL 32775
#define ID_TRAY_MOUNT_VOLUME 32776
#define ID_TRAY_RECENT_FIRST 32780
#define ID_TRAY_RECENT_LAST 32789
#define ID_TRAY_DRIVE_FIRST 32800
#define ID_TRAY_DRIVE_LAST 32825
