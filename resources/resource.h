// Names and numbers of the program's resources, shared by the .rc files and
// the code. Templates and the clip are found by name; the code passes the
// names to the W functions, the resource compiler sees the bare names.
#pragma once

#ifdef RC_INVOKED
#define IDD_COPYINGDELUX COPYINGDELUX
#define IDR_AVI_FILECOPY AVI_FILECOPY
#else
#define IDD_COPYINGDELUX L"COPYINGDELUX"
#define IDR_AVI_FILECOPY L"AVI_FILECOPY"
#endif

// Controls of the copy progress window.
#define IDC_FILE_PROGRESS 1010
#define IDC_COPY_FILENAME 1012
#define IDC_TOTAL_PROGRESS 1019
#define IDC_ANIMATE 1020
