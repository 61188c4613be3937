#include "shell/MainWindow_win32.h"

#include <sys/stat.h>

#include "picture/Picture_win32.h"
#include "resources/resource.h"
#include "services/Messages.h"
#include "services/TextCodec_win32.h"
#include "services/Window_win32.h"
#include "settings/SettingsFile.h"
#include "services/WorkingFolder.h"
#include "update/RunUpdate.h"
#include "update/UpdateDialogs.h"

namespace {

constexpr int kSlotCount = 9;
// What a slot's button does.
enum ButtonAction { kActionNone = 0, kActionUpdate = 1, kActionDirectX = 2, kActionExit = 3, kActionReadme = 5 };
constexpr const char* kDirectXFolder = "DirectX";
constexpr const char* kDirectXSetup = "DirectX\\dxsetup.exe";
constexpr const char* kPictureFile = "insttscr.rct";
// The screen DPI a picture is made for: one picture pixel to one screen
// pixel. On a screen of more DPI the dialog grows with its font, and the
// picture is scaled as much so that it keeps its place and proportion.
constexpr int kPictureDpi = 96;

ButtonAction s_actions[kSlotCount];
bool s_busy = false;  // a button's work runs: further buttons and the close box are ignored
Picture* s_picture = nullptr;
int s_pictureX = 0;
int s_pictureY = 0;
int s_pictureWidth = 0;  // on the screen
int s_pictureHeight = 0;
char s_text[kSettingBuffer];

void SetText(HWND window, int id, const char* sjis) {
    wchar_t wide[kWideTextBuffer];
    SjisToWide(sjis, wide, kWideTextBuffer);
    if (id == 0) SetWindowTextW(window, wide);
    else SetDlgItemTextW(window, id, wide);
}

void UseSlot(HWND window, int slot, const char* label, ButtonAction action) {
    SetText(window, IDC_SLOT_FIRST + slot, label);
    s_actions[slot] = action;
}

bool HasDirectXFolder() {
    wchar_t wide[MAX_PATH];
    SjisToWide(kDirectXFolder, wide, MAX_PATH);
    struct _stat st;
    return _wstat(wide, &st) == 0 && (st.st_mode & _S_IFDIR) != 0;
}

void Initialise(HWND window) {
    SetOwnerWindow(window);
    CenterOnScreen(window);
    s_busy = false;
    SetText(window, 0, UpdaterTitle());
    UseSlot(window, 0, kExitLabel, kActionExit);
    int next = 1;
    if (HasDirectXFolder()) UseSlot(window, next++, kDirectXLabel, kActionDirectX);
    SettingString("INSTREADME", s_text, sizeof(s_text), kDefaultReadmeLabel);
    if (s_text[0] != '-') UseSlot(window, next++, s_text, kActionReadme);
    UseSlot(window, next++, kUpdateLabel, kActionUpdate);
    for (int slot = next; slot < kSlotCount; ++slot) {
        DestroyWindow(GetDlgItem(window, IDC_SLOT_FIRST + slot));
        s_actions[slot] = kActionNone;
    }
    keybd_event(VK_DOWN, 0, 0, 0);
    keybd_event(VK_DOWN, 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_UP, 0, 0, 0);
    keybd_event(VK_UP, 0, KEYEVENTF_KEYUP, 0);
    s_picture = LoadRctPicture(kPictureFile);
    RECT client;
    GetClientRect(window, &client);
    // Centred in the square at the left whose side is the client height.
    if (s_picture != nullptr) {
        HDC dc = GetDC(window);
        s_pictureWidth = MulDiv(s_picture->width, GetDeviceCaps(dc, LOGPIXELSX), kPictureDpi);
        s_pictureHeight = MulDiv(s_picture->height, GetDeviceCaps(dc, LOGPIXELSY), kPictureDpi);
        ReleaseDC(window, dc);
        s_pictureX = (client.bottom - s_pictureWidth) / 2;
        s_pictureY = (client.bottom - s_pictureHeight) / 2;
    }
}

void Paint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    // Without a picture the place stays empty: nothing of it is read.
    if (s_picture != nullptr) {
        // A scaled picture is smoothed rather than its pixels repeated.
        if (s_pictureWidth != s_picture->width || s_pictureHeight != s_picture->height) {
            SetStretchBltMode(dc, HALFTONE);
            SetBrushOrgEx(dc, 0, 0, nullptr);
        }
        StretchDIBits(dc, s_pictureX, s_pictureY, s_pictureWidth, s_pictureHeight, 0, 0, s_picture->width,
                      s_picture->height, s_picture->pixels, reinterpret_cast<BITMAPINFO*>(s_picture->info),
                      DIB_RGB_COLORS, SRCCOPY);
    }
    EndPaint(window, &ps);
}

void Close(HWND window) {
    FreePicture(s_picture, kFreeUnlessKept);
    s_picture = nullptr;
    RemoveWorkingFolder();
    EndDialog(window, 0);
}

void Command(HWND window, WPARAM command) {
    if (s_busy) return;
    s_busy = true;
    int slot = 0;
    while (slot < kSlotCount && static_cast<WPARAM>(IDC_SLOT_FIRST + slot) != command) ++slot;
    if (slot < kSlotCount) {
        switch (s_actions[slot]) {
            case kActionUpdate:
                if (RunUpdate() == kUpdateApplied) Close(window);
                break;
            case kActionDirectX:
                StartProgram(kDirectXSetup);
                break;
            case kActionExit:
                Close(window);
                break;
            case kActionReadme:
                OpenDocument(SettingString("INSTREADMEFL", s_text, sizeof(s_text), kDefaultReadmeFile));
                break;
            default:
                break;
        }
    }
    s_busy = false;
}

INT_PTR CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            Initialise(window);
            break;
        case WM_PAINT:
            Paint(window);
            break;
        case WM_CLOSE:
            if (!s_busy) Close(window);
            break;
        case WM_COMMAND:
            Command(window, wParam);
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

INT_PTR RunMainWindow(HINSTANCE instance) {
    return DialogBoxParamW(instance, IDD_MAINDIALOG, nullptr, MainWindowProc, 0);
}
