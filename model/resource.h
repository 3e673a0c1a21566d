// Identifiers of the dialogs, controls, strings and icon. Plain #defines so that a resource
// compiler can read this header as well as C++.
#ifndef UPDATER_UI_RESOURCE_H
#define UPDATER_UI_RESOURCE_H

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATER_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_OPEN 1000
#define IDC_SIZE 1001
#define IDC_SENT 1002
#define IDC_PROGRAM 1003
#define IDC_PROGRESS 1004
#define IDC_FILE_VIEW 1007
#define IDC_RX_VIEW 1008
#define IDC_INFO 1009
#define IDC_LOG 1010
#define IDC_STATE_LABEL 1011

#define IDM_ABOUTBOX 0x0010

#endif
