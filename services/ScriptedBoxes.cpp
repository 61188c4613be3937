#include "services/ScriptedBoxes.h"

#include <deque>

#include "services/MessageBoxes.h"
#include "base/PathRules.h"

namespace {
std::deque<int> s_answers;
std::vector<ShownBox> s_shown;
std::string s_clipboard;
std::string s_ownerTitle;
char s_caption[kCaptionBuffer];
}  // namespace

void QueueBoxAnswer(int answer) { s_answers.push_back(answer); }
const std::vector<ShownBox>& ShownBoxes() { return s_shown; }
const std::string& ClipboardText() { return s_clipboard; }
void SetScriptedOwnerTitle(const char* title) { s_ownerTitle = title; }

void ResetScriptedBoxes() {
    s_answers.clear();
    s_shown.clear();
    s_clipboard.clear();
    s_ownerTitle.clear();
}

const char* MessageCaption() {
    CopyText(s_caption, sizeof(s_caption), s_ownerTitle.c_str());
    return s_caption;
}

int CopyTextToClipboard(const char* text) {
    s_clipboard = text;
    return 0;
}

void BoxBringOwnerToFront() {}

int BoxShow(const char* text, const char* caption, unsigned flags, bool owned) {
    s_shown.push_back(ShownBox{text, caption, flags, owned});
    if (s_answers.empty()) {
        // The careful answer: give up rather than retry, decline rather than agree.
        if ((flags & 0x0F) == kBoxRetryCancel) return kAnswerCancel;
        if ((flags & 0x0F) == kBoxYesNo) return kAnswerNo;
        return kAnswerOk;
    }
    int answer = s_answers.front();
    s_answers.pop_front();
    return answer;
}
