// Resource numbers of OrvinAgent.exe. Shared by the resource script and the code.
#pragma once

#define IDR_MAINFRAME 100
#define IDI_STATUS0 101
#define IDI_STATUS1 102
#define IDI_STATUS2 103
#define IDI_STATUS3 104

#define IDD_ORVINAGENT_DIALOG 102

#define IDC_COMMAND_COMBO 1005
#define IDC_SEND 1002
#define IDC_EVENT_LOG 1008
#define IDC_CLEAR 1009
#define IDC_HOLD_SCROLL 1011
#define IDC_SAVE 1012
#define IDC_CLOSE 1007
#define IDC_STATIC_COMMAND 1100
#define IDC_STATIC_EVENTS 1101

#define IDR_TRAY_MENU 131
#define ID_TRAY_ABOUT 32773
#define ID_TRAY_RESTORE 32771
#define ID_TRAY_CONFIGURE 32781
#define ID_TRAY_EXIT 32772

// The About box.
#define IDD_ABOUTBOX 100
#define IDC_ABOUT_PRODUCT 1013
#define IDC_ABOUT_NOTICE 1014
#define IDC_ABOUT_VERSION 1015
#define IDC_ABOUT_PROVIDER 1016
#define IDC_ABOUT_ICON 1017
#define IDC_ABOUT_LINK 1019

// The error box.
#define IDD_ERROR_MESSAGE 138
#define IDC_ERROR_TEXT 1018
#define IDC_ERROR_ICON 1020

#define IDM_ABOUTBOX 16 // system menu
#define IDS_VOIP_ADAPTOR 100
#define IDS_ABOUTBOX 101
