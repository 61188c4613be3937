// Windows side of the boxes: MessageBoxW with text converted from code page
// 932, the clipboard, the owner window and dialog placement.
#include <windows.h>

#include <cstring>
#include <string>

#include "services/MessageBoxes.h"
#include "services/TextCodec_win32.h"
#include "services/Window_win32.h"
#include "base/PathRules.h"

namespace {

// The locale whose code page the system uses to offer CF_TEXT beside our
// Unicode text: Japanese, so that byte readers get the Shift-JIS bytes back.
constexpr LCID kJapaneseLocale = 0x0411;
// Another program (a clipboard manager, a remote desktop) may hold the
// clipboard for a moment: the copy is tried this many times, this far apart.
constexpr int kClipboardAttempts = 10;
constexpr DWORD kClipboardPauseMs = 20;

HWND s_owner = nullptr;
char s_caption[kCaptionBuffer];

}  // namespace

void SetOwnerWindow(HWND window) { s_owner = window; }

HWND OwnerWindow() { return s_owner; }

const char* MessageCaption() {
    s_caption[0] = '\0';
    if (s_owner != nullptr) {
        // Converted in a roomier buffer, then cut to 259 bytes at a character boundary.
        wchar_t title[kCaptionBuffer];
        char sjis[kCaptionBuffer * 2];
        if (GetWindowTextW(s_owner, title, kCaptionBuffer) > 0 && WideToSjis(title, sjis, sizeof(sjis)))
            CopyText(s_caption, sizeof(s_caption), sjis);
    }
    return s_caption;
}

void BoxBringOwnerToFront() {
    if (s_owner != nullptr) SetForegroundWindow(s_owner);
}

int BoxShow(const char* text, const char* caption, unsigned flags, bool owned) {
    wchar_t wideText[kWideTextBuffer];
    wchar_t wideCaption[kCaptionBuffer];
    SjisToWide(text, wideText, kWideTextBuffer);
    SjisToWide(caption, wideCaption, kCaptionBuffer);
    return MessageBoxW(owned ? s_owner : nullptr, wideText, wideCaption, flags);
}

int CopyTextToClipboard(const char* text) {
    wchar_t wide[kWideTextBuffer];
    if (!SjisToWide(text, wide, kWideTextBuffer)) return -1;
    return CopyWideToClipboard(wide);
}

int CopyWideToClipboard(const wchar_t* wide) {
    size_t bytes = (wcslen(wide) + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    if (block == nullptr) return -1;
    void* p = GlobalLock(block);
    if (p == nullptr) {
        GlobalFree(block);
        return -1;
    }
    memcpy(p, wide, bytes);
    GlobalUnlock(block);
    HGLOBAL locale = GlobalAlloc(GMEM_MOVEABLE, sizeof(LCID));
    if (locale != nullptr) {
        LCID* l = static_cast<LCID*>(GlobalLock(locale));
        if (l != nullptr) *l = kJapaneseLocale;
        GlobalUnlock(locale);
    }
    bool opened = false;
    for (int attempt = 0; attempt < kClipboardAttempts && !opened; ++attempt) {
        if (attempt > 0) Sleep(kClipboardPauseMs);
        opened = OpenClipboard(GetActiveWindow()) != FALSE;
    }
    if (!opened) {
        GlobalFree(block);
        if (locale != nullptr) GlobalFree(locale);
        return 0;
    }
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block) == nullptr) GlobalFree(block);
    if (locale != nullptr && SetClipboardData(CF_LOCALE, locale) == nullptr) GlobalFree(locale);
    CloseClipboard();
    return 0;
}

void ShowErrorNaming(const char* format, const wchar_t* name) {
    wchar_t wideFormat[kWideTextBuffer];
    SjisToWide(format, wideFormat, kWideTextBuffer);
    std::wstring text(wideFormat);
    size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, name);
    if (text.size() >= kWideTextBuffer) text.resize(kWideTextBuffer - 1);
    BoxBringOwnerToFront();
    CopyWideToClipboard(text.c_str());
    wchar_t caption[kCaptionBuffer];
    SjisToWide(MessageCaption(), caption, kCaptionBuffer);
    MessageBoxW(s_owner, text.c_str(), caption, MB_OK | MB_ICONERROR);
}

void CenterOnScreen(HWND window) {
    RECT r;
    if (!GetWindowRect(window, &r)) return;
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    HDC dc = GetDC(window);
    int screenWidth = GetDeviceCaps(dc, HORZRES);
    int screenHeight = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(window, dc);
    SetWindowPos(window, nullptr, (screenWidth - width) / 2, (screenHeight - height) / 2, 0, 0,
                 SWP_NOZORDER | SWP_NOSIZE);
}
