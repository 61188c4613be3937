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
