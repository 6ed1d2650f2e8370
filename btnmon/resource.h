// Resource numbers shared by btnmon.exe and btnclose.exe.
#pragma once

#define IDS_CLASS_NAME 0
#define IDS_PROGRAMS 2
#define IDS_NO_RESOURCES 64
#define IDS_NO_SCANNER 65
#define IDS_LAUNCH_FAILED 66

#define IDI_MAIN 103
#define IDD_BUTTON_SETUP 104

#define IDC_HELP_BUTTON 3
#define IDC_GROUP_COMBO 1000
#define IDC_APP_NAME 1014
#define IDC_ITEM_LIST 1016
