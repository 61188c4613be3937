// The owner window of every box and dialog, and the placement every dialog of
// the program uses when it opens.
#pragma once

#include <windows.h>

// Registers the window that owns later boxes and dialogs and gives their caption.
void SetOwnerWindow(HWND window);
// The registered owner, or null before registration.
HWND OwnerWindow();
// Moves a top-level window so that it is centred on the whole screen, keeping
// its size and z-order. A window larger than the screen gets negative coordinates.
void CenterOnScreen(HWND window);

// An error box, as ShowError gives, whose text names something the system
// spelled in UTF-16 that Shift-JIS may not spell (a folder the user picked):
// name takes the place of the "%s" in format. The text goes to the clipboard.
void ShowErrorNaming(const char* format, const wchar_t* name);
// Puts UTF-16 text on the clipboard. Returns 0, or -1 when no memory block was had.
int CopyWideToClipboard(const wchar_t* text);
