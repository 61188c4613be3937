#include "tools/CheckCommand.h"

#include "settings/SectionLists.h"
#include "tools/ToolText.h"

std::string FindingLine(const CheckFinding& finding, const char* shownName) {
    return std::string(shownName) + ":" + std::to_string(finding.line) + ": " +
           (finding.severity == kCheckError ? "error" : "warning") + ": " + finding.text;
}

void PrintFindings(const std::vector<CheckFinding>& findings, const char* shownName, FILE* out) {
    for (const CheckFinding& f : findings) fprintf(out, "%s\n", FindingLine(f, shownName).c_str());
}

void PrintEffectiveSettings(const SettingsCheck& check, FILE* out) {
    fprintf(out, "settings as the updater reads them:\n");
    for (const EffectiveSetting& s : check.settings) {
        std::string shown;
        if (s.isInteger) shown = s.value;
        else if (s.isDefault && s.absentIsNull) shown = "none";
        else shown = "\"" + ShownSjis(s.value) + "\"";
        std::string where = s.isDefault ? std::string("default") : "line " + std::to_string(s.line);
        if (!s.isInteger && s.fullValue.size() > s.value.size())
            where += ", cut from " + std::to_string(s.fullValue.size()) + " bytes";
        fprintf(out, "  %-14s %s  (%s)\n", s.key, shown.c_str(), where.c_str());
    }
    fprintf(out, "sections:\n");
    for (int section = 0; section < kSectionCount; ++section) {
        const std::vector<std::string>& entries = check.sections[section];
        if (entries.empty()) {
            fprintf(out, "  %s none\n", SectionHeader(section));
            continue;
        }
        fprintf(out, "  %s %u %s\n", SectionHeader(section), static_cast<unsigned>(entries.size()),
                entries.size() == 1 ? "entry" : "entries");
        for (const std::string& entry : entries) fprintf(out, "    %s\n", ShownSjis(entry).c_str());
    }
}

int CheckCommand(const char* path, const char* packageFolder, FILE* out, FILE* err) {
    std::vector<std::string> packageFiles;
    if (packageFolder != nullptr && !ListPackageFiles(packageFolder, &packageFiles)) {
        fprintf(err, "patchtool: cannot read the folder %s\n", PrintableName(packageFolder).c_str());
        return 1;
    }
    SettingsCheck check;
    if (!CheckSettingsFile(path, packageFolder != nullptr ? &packageFiles : nullptr, &check)) {
        fprintf(err, "patchtool: cannot read %s\n", PrintableName(path).c_str());
        return 1;
    }
    std::string shownName = PrintableName(path);
    PrintFindings(check.findings, shownName.c_str(), out);
    PrintEffectiveSettings(check, out);
    fprintf(out, "%s: %d %s, %d %s\n", shownName.c_str(), check.errors, check.errors == 1 ? "error" : "errors",
            check.warnings, check.warnings == 1 ? "warning" : "warnings");
    return check.errors > 0 ? 1 : 0;
}
