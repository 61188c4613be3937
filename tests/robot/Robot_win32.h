// The test robot: finds the windows of a process, reads their texts, clicks
// their buttons and answers message boxes, as a person would.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Waits up to timeoutMs for a visible top-level dialog window (class #32770)
// of process processId whose title contains titlePart (any when empty).
HWND WaitForDialog(DWORD processId, const std::wstring& titlePart, DWORD timeoutMs);
// The same, passing over one window (the main window, which owns the boxes).
HWND WaitForDialogExcept(DWORD processId, HWND except, DWORD timeoutMs);
// The same for a message box only: a dialog with a control of id 0xFFFF, as a
// box's text is. Dialogs without one, such as the progress window, are passed
// over; a dialog whose static texts have no id of their own still matches.
HWND WaitForBox(DWORD processId, HWND except, DWORD timeoutMs);
// Waits until window is gone; false on timeout.
bool WaitForWindowGone(HWND window, DWORD timeoutMs);

std::wstring WindowText(HWND window);
std::wstring ClassName(HWND window);
// Text of a message box: its static control 0xFFFF.
std::wstring MessageBoxText(HWND box);
// Clicks button id of dialog as a user's click would.
void ClickButton(HWND dialog, int id);

// Current clipboard text as Unicode ("" when none).
std::wstring ClipboardUnicode();
// Current clipboard CF_TEXT bytes as the system offers them.
std::string ClipboardBytes();

// Boxes answered on a background thread: the thread waits for each next box of
// processId in turn, records its text and caption, and presses the answer.
struct BoxAnswerer {
    DWORD processId;
    std::vector<int> answers;
    DWORD timeoutMs;
    std::wstring text;  // of the last box answered
    std::wstring caption;
    std::vector<std::wstring> texts;  // of every box answered
    bool answered;  // every answer was given
    HANDLE thread;
    HWND except;    // a dialog that is never taken for a box
};
void StartBoxAnswerer(BoxAnswerer* answerer, DWORD processId, int answer, DWORD timeoutMs = 20000);
void StartBoxSequence(BoxAnswerer* answerer, DWORD processId, const std::vector<int>& answers,
                      DWORD timeoutMs = 20000, HWND except = nullptr);
// Waits for the answerer thread; returns whether every box was answered.
bool FinishBoxAnswerer(BoxAnswerer* answerer);

// UTF-16 text of a Shift-JIS literal, for comparing with what windows show.
std::wstring Wide(const char* sjis);

// Waits for a visible top-level window of any process whose title contains
// titlePart; null on timeout.
HWND WaitForAnyWindow(const std::wstring& titlePart, DWORD timeoutMs);

// Saves what the screen shows of window as NAME.bmp in the folder that the
// UPDATER_SHOTS environment variable names, for a person to look at later.
// The window is first given settleMs to paint. Does nothing when the variable
// is not set; false when the file could not be written.
bool SaveShot(HWND window, const wchar_t* name, DWORD settleMs = 400);
