// The boxes of a build without windows: answers come from a script that the
// caller queues, and every box and clipboard copy is recorded. The makers'
// tool and the native tests use it.
#pragma once

#include <string>
#include <vector>

struct ShownBox {
    std::string text;
    std::string caption;
    unsigned flags;
    bool owned;
};

// Queues the answer for the next box. With none queued, a box answers OK,
// Cancel or No, by its buttons.
void QueueBoxAnswer(int answer);
// The boxes shown since the last reset, oldest first.
const std::vector<ShownBox>& ShownBoxes();
// What the clipboard holds.
const std::string& ClipboardText();
// Sets the title that captions owned boxes ("" for no owner window).
void SetScriptedOwnerTitle(const char* title);
// Forgets boxes, answers, clipboard and title.
void ResetScriptedBoxes();
