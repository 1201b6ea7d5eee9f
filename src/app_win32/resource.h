#pragma once

// Resources of the Windows program: shared by the resource script and the C++ code.
#define IDI_TAMBERLY 1
#define IDR_MENU 100
#define IDR_TRAY_POPUP 101
#define IDR_ACCELERATORS 102
#define IDD_ASK_TEXT 103
#define IDD_PROXY_SETTINGS 104

// Menu items: the icon's pop-up, "File", "Proxy" and its "Internet Explorer".
#define ID_TURN_PROXY_OFF_AND_LAUNCH 1001
#define ID_USE_RANDOM_AND_LAUNCH 1002
#define ID_VISIT_WEBSITE 1011
#define ID_HIDE 1012
#define ID_QUIT 1013
#define ID_START_WITH_SESSION 1014
#define ID_DOWNLOAD_LIST 1021
#define ID_LAUNCH_BROWSER 1022
#define ID_TURN_PROXY_OFF 1023
#define ID_USE_SELECTED 1024
#define ID_SHOW_PROXY_SETTINGS 1025
#define ID_SHOW_CURRENT_PROXY 1026
#define ID_REPORT_DEAD_PROXY 1027
#define ID_SUBMIT_PROXY 1028
#define ID_CHECK_PROXIES 1029
#define ID_STOP_CHECK 1030
#define ID_USE_FASTEST 1031
#define ID_SORT_BY_CHECK 1032
#define ID_WATCH 1033

// The window's controls.
#define IDC_STATUS 2001
#define IDC_PROXY_LIST 2002
#define IDC_USE_AND_LAUNCH 2003

// The dialogs' controls.
#define IDC_PROMPT 2011
#define IDC_ANSWER 2012
#define IDC_USE_PROXY 2021
#define IDC_PROXY_SERVER 2022
#define IDC_PLACES 2023
