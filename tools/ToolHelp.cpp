#include "tools/ToolHelp.h"

#include <cstring>

#include "resources/Version.h"

namespace {

struct CommandUsage {
    const char* command;
    const char* text;
};

const CommandUsage kCommandUsages[] = {
    {"diff",
     "  patchtool diff OLD NEW OUT [--settings INSTALL.ENV] [--exclude PATTERN]... [--no-delta] [--quiet]\n"
     "      make the patch folder OUT from the released game OLD and the new\n"
     "      version NEW: every new or changed file (by its bytes) with its time,\n"
     "      and an install.env whose [delfiles_afterinst] lists the removed files,\n"
     "      merged into INSTALL.ENV or written as a starting file to fill in;\n"
     "      Thumbs.db, desktop.ini, .DS_Store and what PATTERN matches (* and ?, a\n"
     "      name anywhere or a path with \\) are left out of both versions\n"},
    {"pack",
     "  patchtool pack UPDATER.exe OUT.exe SOURCE [--level N] [--list FILE] [--quiet]\n"
     "      copy UPDATER.exe to OUT.exe with a package of the folder SOURCE\n"
     "      (or of the paths under SOURCE that FILE lists, one a line, UTF-8);\n"
     "      zlib level 0-9, default 9; SOURCE needs install.env and a background\n"
     "      picture; Ctrl-C leaves no OUT.exe.partial behind\n"},
    {"list",
     "  patchtool list FILE.exe [--json]\n"
     "      one line per entry: kind, size, packed size, time (UTC), name; with --json\n"
     "      a JSON array, one object per entry: kind, sizes, time, the name as UTF-8\n"
     "      and as Shift-JIS bytes (hex), and the SHA-256 of the unpacked file\n"},
    {"verify",
     "  patchtool verify FILE.exe    inflate every entry in memory and check it, and follow\n"
     "      the updater's start: every start-up file reached, install.env and the\n"
     "      background picture among them\n"},
    {"extract",
     "  patchtool extract FILE.exe DEST [--quiet]\n"
     "      extract everything into DEST as the updater's update does; a delta applies\n"
     "      to the file of its name in DEST, which must be the released one\n"},
    {"try",
     "  patchtool try PATCH.exe GAME [--expect NEW] [--installed-version N]\n"
     "      rehearse the update on GAME (a copy of the released game) as the\n"
     "      updater runs it: the version gate for installed version N, every\n"
     "      entry, the [ini] writes, the [reg] lines printed (not applied), the\n"
     "      [delfiles_afterinst] deletions; with NEW, compare GAME with the new\n"
     "      release (names, bytes, times) and list every difference; exit 0 when\n"
     "      equal, 1 when not, 3 when the gate refuses, 4 when the walk fails,\n"
     "      5 when the updater would not start\n"},
    {"check",
     "  patchtool check INSTALL.ENV [--package-folder DIR]\n"
     "      read INSTALL.ENV as the updater will: warn where it would quietly differ\n"
     "      from what the file seems to say, then show every setting and section;\n"
     "      with DIR (the folder to be packed), also check that the readme is there\n"
     "      and that no [delfiles_afterinst] entry deletes a file the patch brings\n"},
    {"rct",
     "  patchtool rct encode IN.(png|bmp|ppm) OUT.rct [--tc01 NAME]\n"
     "  patchtool rct decode IN.rct OUT.(png|bmp|ppm)\n"
     "  patchtool rct info IN.rct\n"
     "      make, undo and inspect the RCT background picture (PNG with the native\n"
     "      tool only); pack turns a top-level insttscr.png, .bmp or .ppm into\n"
     "      insttscr.rct by itself\n"},
};

const char* const kSharedUsage =
    "  patchtool help [COMMAND], --help, -h   this text; patchtool --version\n"
    "diff, pack and extract show a progress line on a terminal; --quiet leaves it out.\n";

}  // namespace

bool PrintUsage(const char* command, FILE* out) {
    bool known = command == nullptr;
    for (const CommandUsage& usage : kCommandUsages) known = known || strcmp(command, usage.command) == 0;
    if (!known) return false;
    fputs("usage:\n", out);
    for (const CommandUsage& usage : kCommandUsages)
        if (command == nullptr || strcmp(command, usage.command) == 0) fputs(usage.text, out);
    fputs(kSharedUsage, out);
    return true;
}

const char* ToolVersion() { return UPDATER_VERSION_TEXT; }
