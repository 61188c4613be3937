// Names and numbers of the program's resources, shared by the .rc files and
// the code. Templates and the clip are found by name; the code passes the
// names to the W functions, the resource compiler sees the bare names.
#pragma once

#ifdef RC_INVOKED
#define IDD_MAINDIALOG MAINDIALOG
#define IDD_SETUP SETUP
#define IDD_COPYINGDELUX COPYINGDELUX
#define IDD_ENDINSTALL ENDINSTALL
#define IDD_ENDINSTALL_SHORT ENDINSTALL_SHORT
#define IDD_ELEVATE ELEVATE
#define IDR_AVI_FILECOPY AVI_FILECOPY
#else
#define IDD_MAINDIALOG L"MAINDIALOG"
#define IDD_SETUP L"SETUP"
#define IDD_COPYINGDELUX L"COPYINGDELUX"
#define IDD_ENDINSTALL L"ENDINSTALL"
#define IDD_ENDINSTALL_SHORT L"ENDINSTALL_SHORT"
#define IDD_ELEVATE L"ELEVATE"
#define IDR_AVI_FILECOPY L"AVI_FILECOPY"
#endif

// Controls of the copy progress window.
#define IDC_FILE_PROGRESS 1010
#define IDC_COPY_FILENAME 1012
#define IDC_TOTAL_PROGRESS 1019
#define IDC_ANIMATE 1020

// Check boxes of the finish dialogs.
#define IDC_README_CHECK 1007
#define IDC_RUN_GAME_CHECK 1009

// The text of the administrator box.
#define IDC_ELEVATE_TEXT 1030

// Controls of the SETUP dialog.
#define IDC_INSTALL_PATH 1000
#define IDC_BROWSE 1021
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// The main window's button slots: slot 0 (bottom of the column) to slot 8.
#define IDC_SLOT_FIRST 1000
