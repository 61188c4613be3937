// The SETUP dialog: the user names the folder to update, typing it or
// choosing it in the shell's folder browser.
#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "resources/resource.h"
#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/TextCodec_win32.h"
#include "services/WidePath_win32.h"
#include "services/Window_win32.h"
#include "base/PathRules.h"
#include "update/InstallFolder.h"
#include "update/UpdateDialogs.h"

namespace {

// Only file-system folders, and nothing below the domain level.
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;

char* s_path = nullptr;
size_t s_capacity = 0;

void ShowPath(HWND dialog) {
    wchar_t wide[kWidePathBuffer];
    SjisToWide(s_path, wide, kWidePathBuffer);
    SetDlgItemTextW(dialog, IDC_INSTALL_PATH, wide);
}

// Takes a folder the user typed or picked into the path buffer. A folder that
// has no Shift-JIS spelling, or whose path does not fit, is refused with a box
// and the buffer keeps what it had: never cut, never another folder.
bool TakeFolder(const wchar_t* wide) {
    char sjis[kWidePathBuffer * 2];
    if (wide[0] != L'\0' && !SystemPathToSjis(wide, sjis, sizeof(sjis))) {
        ShowErrorNaming(NoticeOf(kMsgUnspellableFolder).text, wide);
        return false;
    }
    if (wide[0] == L'\0') sjis[0] = '\0';
    if (strlen(sjis) + 1 > s_capacity) {
        ShowMessage(kMsgPathTooLong);
        return false;
    }
    CopyText(s_path, s_capacity, sjis);
    return true;
}

// Lets the user pick a folder; a picked folder's path goes into the path buffer.
void BrowseForFolder(HWND owner) {
    wchar_t title[kWideTextBuffer];
    SjisToWide(kBrowseTitle, title, kWideTextBuffer);
    wchar_t displayName[MAX_PATH];
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.pszDisplayName = displayName;
    info.lpszTitle = title;
    info.ulFlags = kBrowseFlags;
    LPITEMIDLIST item = SHBrowseForFolderW(&info);
    if (item == nullptr) return;
    wchar_t chosen[MAX_PATH];
    if (SHGetPathFromIDListW(item, chosen)) TakeFolder(chosen);
    IMalloc* allocator = nullptr;
    if (SUCCEEDED(SHGetMalloc(&allocator))) {
        allocator->Free(item);
        allocator->Release();
    }
}

INT_PTR CALLBACK SetupProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        CenterOnScreen(dialog);
        ShowPath(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
        case IDC_BROWSE:
            BrowseForFolder(dialog);
            ShowPath(dialog);
            return TRUE;
        case IDOK: {
            wchar_t wide[kWidePathBuffer];
            GetDlgItemTextW(dialog, IDC_INSTALL_PATH, wide, kWidePathBuffer);
            // A refused path keeps the dialog open for another try.
            if (TakeFolder(wide)) EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool RunSetupDialog(char* path, size_t capacity) {
    s_path = path;
    s_capacity = capacity;
    HWND owner = OwnerWindow();
    HINSTANCE instance = owner != nullptr ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE))
                                          : GetModuleHandleW(nullptr);
    return DialogBoxParamW(instance, IDD_SETUP, owner, SetupProc, 0) == IDOK;
}
