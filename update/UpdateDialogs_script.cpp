// The finish dialog and the launchers of a build without windows: answered
// from a script, with everything they were asked recorded. The SETUP dialog's
// script is in update/SetupDialog_script.cpp.
#include <deque>
#include <string>
#include <vector>

#include "update/ScriptedUpdateDialogs.h"
#include "update/UpdateDialogs.h"

namespace {

// What FinishLabels records for the template without a readme box.
constexpr const char* kShortTemplateLabel = "(short)";

struct FinishAnswer {
    bool runGame;
    bool openReadme;
    bool escape;
};

std::deque<FinishAnswer> s_finishAnswers;
std::vector<std::string> s_finishLabels;
std::vector<std::string> s_started;
std::vector<std::string> s_opened;

}  // namespace

void QueueFinishAnswer(bool runGame, bool openReadme, bool escape) {
    s_finishAnswers.push_back(FinishAnswer{runGame, openReadme, escape});
}

const std::vector<std::string>& FinishLabels() { return s_finishLabels; }
const std::vector<std::string>& StartedPrograms() { return s_started; }
const std::vector<std::string>& OpenedDocuments() { return s_opened; }

void ResetScriptedUpdateDialogs() {
    ResetScriptedSetupDialog();
    s_finishAnswers.clear();
    s_finishLabels.clear();
    s_started.clear();
    s_opened.clear();
}

void RunFinishDialog(const char* readmeLabel, FinishChoices* choices) {
    s_finishLabels.push_back(readmeLabel != nullptr ? readmeLabel : kShortTemplateLabel);
    choices->runGame = false;
    choices->openReadme = false;
    // With nothing queued the dialog is closed with Escape: nothing is launched.
    if (s_finishAnswers.empty()) return;
    FinishAnswer answer = s_finishAnswers.front();
    s_finishAnswers.pop_front();
    if (answer.escape) return;
    choices->runGame = answer.runGame;
    choices->openReadme = answer.openReadme;
}

int StartProgram(const char* name) {
    s_started.push_back(name);
    return 1;
}

void OpenDocument(const char* name) { s_opened.push_back(name); }
