#pragma once

// Resources of the Windows program: shared by the resource script and the C++ code.
#define IDI_TAMBERLY 1
#define IDR_MENU 100
#define IDR_POPUP 101
#define IDR_ACCELERATORS 102
#define IDD_INPUTBOX 103

// Menu items.
#define ID_MNUNOPROXY2 1001
#define ID_MNUSWITCH 1002
#define ID_MNUQUIT2 1003
#define ID_MNUVISIT 1011
#define ID_MNUHIDE 1012
#define ID_MNUQUIT 1013
#define ID_MNULIST 1021
#define ID_MNULAUNCH 1022
#define ID_MNUNOPROXY 1023
#define ID_MNUTHISPROXY 1024
#define ID_MNUCLOSE 1025
#define ID_CURRPROXY 1026
#define ID_MNUDEAD 1027
#define ID_MNUADD 1028

// Controls.
#define IDC_STATUS 2001
#define IDC_PROXYDISPLAY 2002
#define IDC_CHOICE 2003
#define IDC_PICHOOK 2004
#define IDC_PROMPT 2011
#define IDC_ANSWER 2012
