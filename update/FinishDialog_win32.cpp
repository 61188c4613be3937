// Windows side of the finish dialog: the modal template ENDINSTALL or
// ENDINSTALL_SHORT, owned by the owner window, with one dialog procedure for
// both. The readme box starts cleared and carries the INSTREADME text, the
// game box starts ticked.
#include <windows.h>

#include "resources/resource.h"
#include "services/TextCodec_win32.h"
#include "services/Window_win32.h"
#include "update/UpdateDialogs.h"

namespace {

// What the dialog procedure works on while the one modal dialog runs.
const char* s_readmeLabel = nullptr;
FinishChoices* s_choices = nullptr;

void InitDialog(HWND dialog) {
    // ENDINSTALL_SHORT has no readme box; these two calls then find nothing.
    CheckDlgButton(dialog, IDC_README_CHECK, BST_UNCHECKED);
    if (s_readmeLabel != nullptr) {
        wchar_t label[kWideTextBuffer];
        SjisToWide(s_readmeLabel, label, kWideTextBuffer);
        SetDlgItemTextW(dialog, IDC_README_CHECK, label);
    }
    CheckDlgButton(dialog, IDC_RUN_GAME_CHECK, BST_CHECKED);
    CenterOnScreen(dialog);
}

INT_PTR CALLBACK FinishDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        InitDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND) return FALSE;
    switch (LOWORD(wParam)) {
    case IDOK:
        s_choices->openReadme = IsDlgButtonChecked(dialog, IDC_README_CHECK) == BST_CHECKED;
        s_choices->runGame = IsDlgButtonChecked(dialog, IDC_RUN_GAME_CHECK) == BST_CHECKED;
        EndDialog(dialog, IDOK);
        return TRUE;
    case IDCANCEL:
        s_choices->openReadme = false;
        s_choices->runGame = false;
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void RunFinishDialog(const char* readmeLabel, FinishChoices* choices) {
    choices->runGame = false;
    choices->openReadme = false;
    HWND owner = OwnerWindow();
    HINSTANCE instance = owner != nullptr
                             ? reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE))
                             : GetModuleHandleW(nullptr);
    s_readmeLabel = readmeLabel;
    s_choices = choices;
    DialogBoxParamW(instance, readmeLabel != nullptr ? IDD_ENDINSTALL : IDD_ENDINSTALL_SHORT, owner,
                    FinishDialogProc, 0);
    s_readmeLabel = nullptr;
    s_choices = nullptr;
}
