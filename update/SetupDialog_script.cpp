// The SETUP dialog of a build without windows: answered from a script.
#include <deque>
#include <string>
#include <vector>

#include "base/PathRules.h"
#include "update/ScriptedUpdateDialogs.h"
#include "update/UpdateDialogs.h"

namespace {

struct SetupAnswer {
    std::string text;
    bool cancel;
};

std::deque<SetupAnswer> s_answers;
std::vector<std::string> s_proposals;

}  // namespace

void QueueSetupAnswer(const std::string& text, bool cancel) { s_answers.push_back(SetupAnswer{text, cancel}); }

const std::vector<std::string>& SetupProposals() { return s_proposals; }

void ResetScriptedSetupDialog() {
    s_answers.clear();
    s_proposals.clear();
}

bool RunSetupDialog(char* path, size_t capacity) {
    s_proposals.push_back(path);
    // With nothing queued the dialog is cancelled, as a careful user would.
    if (s_answers.empty()) return false;
    SetupAnswer answer = s_answers.front();
    s_answers.pop_front();
    if (answer.cancel) return false;
    CopyText(path, capacity, answer.text.c_str());
    return true;
}
