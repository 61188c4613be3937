#include "tests/robot/Robot_win32.h"

#include <vector>

namespace {

// Control id of the text in a system message box.
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr DWORD kPollMs = 20;

struct Search {
    DWORD processId;
    std::wstring titlePart;
    HWND found;
    HWND except;
    bool boxesOnly;  // message boxes only: dialogs with a box's text control
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM context) {
    Search* s = reinterpret_cast<Search*>(context);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != s->processId || !IsWindowVisible(window) || window == s->except) return TRUE;
    if (ClassName(window) != L"#32770") return TRUE;
    if (!s->titlePart.empty() && WindowText(window).find(s->titlePart) == std::wstring::npos) return TRUE;
    if (s->boxesOnly && GetDlgItem(window, kMessageBoxTextId) == nullptr) return TRUE;
    s->found = window;
    return FALSE;
}

DWORD WINAPI AnswerThread(LPVOID context) {
    BoxAnswerer* a = static_cast<BoxAnswerer*>(context);
    for (int answer : a->answers) {
        HWND box = WaitForBox(a->processId, a->except, a->timeoutMs);
        if (box == nullptr) return 0;
        a->text = MessageBoxText(box);
        a->caption = WindowText(box);
        a->texts.push_back(a->text);
        ClickButton(box, answer);
        if (!WaitForWindowGone(box, a->timeoutMs)) return 0;
    }
    a->answered = true;
    return 0;
}

}  // namespace

namespace {

HWND WaitFor(const Search& wanted, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        Search s = wanted;
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&s));
        if (s.found != nullptr) return s.found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

}  // namespace

HWND WaitForBox(DWORD processId, HWND except, DWORD timeoutMs) {
    return WaitFor(Search{processId, L"", nullptr, except, true}, timeoutMs);
}

HWND WaitForDialogExcept(DWORD processId, HWND except, DWORD timeoutMs) {
    return WaitFor(Search{processId, L"", nullptr, except, false}, timeoutMs);
}

HWND WaitForDialog(DWORD processId, const std::wstring& titlePart, DWORD timeoutMs) {
    return WaitFor(Search{processId, titlePart, nullptr, nullptr, false}, timeoutMs);
}

bool WaitForWindowGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(kPollMs);
    }
    return true;
}

std::wstring WindowText(HWND window) {
    int n = GetWindowTextLengthW(window);
    std::vector<wchar_t> buffer(n + 2);
    GetWindowTextW(window, buffer.data(), n + 1);
    return buffer.data();
}

std::wstring ClassName(HWND window) {
    wchar_t name[256];
    GetClassNameW(window, name, 256);
    return name;
}

std::wstring MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, kMessageBoxTextId);
    return text != nullptr ? WindowText(text) : L"";
}

void ClickButton(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::wstring ClipboardUnicode() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data != nullptr) {
        const wchar_t* p = static_cast<const wchar_t*>(GlobalLock(data));
        if (p != nullptr) text = p;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

std::string ClipboardBytes() {
    std::string text;
    if (!OpenClipboard(nullptr)) return text;
    HANDLE data = GetClipboardData(CF_TEXT);
    if (data != nullptr) {
        const char* p = static_cast<const char*>(GlobalLock(data));
        if (p != nullptr) text = p;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

void StartBoxAnswerer(BoxAnswerer* answerer, DWORD processId, int answer, DWORD timeoutMs) {
    StartBoxSequence(answerer, processId, std::vector<int>{answer}, timeoutMs);
}

void StartBoxSequence(BoxAnswerer* answerer, DWORD processId, const std::vector<int>& answers,
                      DWORD timeoutMs, HWND except) {
    answerer->except = except;
    answerer->processId = processId;
    answerer->answers = answers;
    answerer->timeoutMs = timeoutMs;
    answerer->text.clear();
    answerer->caption.clear();
    answerer->texts.clear();
    answerer->answered = false;
    answerer->thread = CreateThread(nullptr, 0, AnswerThread, answerer, 0, nullptr);
}

bool FinishBoxAnswerer(BoxAnswerer* answerer) {
    if (answerer->thread != nullptr) {
        WaitForSingleObject(answerer->thread, INFINITE);
        CloseHandle(answerer->thread);
        answerer->thread = nullptr;
    }
    return answerer->answered;
}

std::wstring Wide(const char* sjis) {
    int n = MultiByteToWideChar(932, 0, sjis, -1, nullptr, 0);
    std::vector<wchar_t> buffer(n > 0 ? n : 1);
    MultiByteToWideChar(932, 0, sjis, -1, buffer.data(), n);
    return buffer.data();
}

namespace {

struct TitleSearch {
    std::wstring titlePart;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM context) {
    TitleSearch* s = reinterpret_cast<TitleSearch*>(context);
    if (!IsWindowVisible(window) || WindowText(window).find(s->titlePart) == std::wstring::npos) return TRUE;
    s->found = window;
    return FALSE;
}

}  // namespace

HWND WaitForAnyWindow(const std::wstring& titlePart, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        TitleSearch s{titlePart, nullptr};
        EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&s));
        if (s.found != nullptr) return s.found;
        if (GetTickCount() - start > timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

bool SaveShot(HWND window, const wchar_t* name, DWORD settleMs) {
    wchar_t folder[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"UPDATER_SHOTS", folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return true;
    Sleep(settleMs);
    RECT r;
    if (!GetWindowRect(window, &r)) return false;
    int width = r.right - r.left;
    int height = r.bottom - r.top;
    if (width <= 0 || height <= 0) return false;
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;  // bottom row first, as a BMP file keeps it
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (memory != nullptr && bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT) != 0;
        SelectObject(memory, old);
    }
    DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
    DWORD imageBytes = stride * static_cast<DWORD>(height);
    std::wstring path = std::wstring(folder) + L"\\" + name + L".bmp";
    CreateDirectoryW(folder, nullptr);
    HANDLE file = ok ? CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                     : INVALID_HANDLE_VALUE;
    if (file != INVALID_HANDLE_VALUE) {
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;  // "BM"
        header.bfOffBits = sizeof(header) + sizeof(info);
        header.bfSize = header.bfOffBits + imageBytes;
        DWORD written = 0;
        ok = WriteFile(file, &header, sizeof(header), &written, nullptr) && written == sizeof(header) &&
             WriteFile(file, &info, sizeof(info), &written, nullptr) && written == sizeof(info) &&
             WriteFile(file, bits, imageBytes, &written, nullptr) && written == imageBytes;
        ok = CloseHandle(file) && ok;
    } else {
        ok = false;
    }
    if (bitmap != nullptr) DeleteObject(bitmap);
    if (memory != nullptr) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}
