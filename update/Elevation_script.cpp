// Continuing as administrator in a build without windows: answered from a
// script, with every box and helper run recorded. No helper process is
// started: a queued outcome stands for what it did.
#include <deque>
#include <string>
#include <vector>

#include "update/Elevation.h"
#include "update/ScriptedElevation.h"

namespace {

std::deque<bool> s_answers;
std::deque<HelperOutcome> s_outcomes;
std::vector<std::string> s_boxFolders;
std::vector<std::string> s_helperFolders;

}  // namespace

void QueueAdministratorAnswer(bool cont) { s_answers.push_back(cont); }
void QueueHelperOutcome(HelperOutcome outcome) { s_outcomes.push_back(outcome); }
const std::vector<std::string>& AdministratorBoxFolders() { return s_boxFolders; }
const std::vector<std::string>& HelperFolders() { return s_helperFolders; }

void ResetScriptedElevation() {
    s_answers.clear();
    s_outcomes.clear();
    s_boxFolders.clear();
    s_helperFolders.clear();
}

bool AskContinueAsAdministrator(const char* folder) {
    s_boxFolders.push_back(folder);
    if (s_answers.empty()) return false;
    bool answer = s_answers.front();
    s_answers.pop_front();
    return answer;
}

HelperOutcome RunElevatedHelper(const char* folder) {
    s_helperFolders.push_back(folder);
    if (s_outcomes.empty()) return kHelperNotStarted;
    HelperOutcome outcome = s_outcomes.front();
    s_outcomes.pop_front();
    return outcome;
}
