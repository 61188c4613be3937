// The Full walk of a damaged or hostile package into an install folder that
// holds a player's files (one read-only), beside files that are not the
// install folder's. Input: one byte, the change after which a second walk
// dies as if the power failed (0: none), then the package's entries.
//
// Promises: nothing outside the install folder changes; a failed walk leaves
// the folder exactly as it was; a walk that succeeds keeps every file it does
// not replace and leaves no staging folder; and after a walk cut short at any
// change, the next run's recovery leaves the folder wholly old or wholly new.
#include <cstdio>
#include <string>

#include "package/Extract.h"
#include "package/Staging.h"
#include "services/Platform.h"
#include "tests/fuzz/FuzzKit.h"
#include "tests/support/PackageBuilder.h"

namespace {

// A fixed time for the player's files, so that two set-ups compare equal.
constexpr uint64_t kPlayerFileTime = 131000000000000000ULL;

void PlayerFile(const std::string& path, const char* text, bool readOnly) {
    WriteFileBytes(path, ToBytes(text));
    PlatformSetFileTime(path.c_str(), kPlayerFileTime);
    if (readOnly) PlatformSetAttributes(path.c_str(), kAttrReadOnly);
}

// The scratch folder: the install folder "game" with the player's files, and
// beside it a file and a folder of someone else's.
std::string SetUp() {
    ClearScratch();
    const std::string& root = ScratchFolder();
    std::string game = root + "\\game";
    PlatformCreateFolder(game.c_str());
    PlatformCreateFolder((game + "\\save").c_str());
    PlayerFile(game + "\\readme.txt", "the release's readme", false);
    PlayerFile(game + "\\save\\slot1.dat", "a saved game", false);
    PlayerFile(game + "\\config.ini", "[options]\r\nvolume=3\r\n", true);
    PlatformCreateFolder((root + "\\other").c_str());
    PlayerFile(root + "\\other\\keep.txt", "not the game's", false);
    PlayerFile(root + "\\game.txt", "a sibling of the game folder", false);
    return game;
}

int Walk(const uint8_t* entries, size_t size, const std::string& game) {
    if (size == 0) return kPackageTruncated;
    FILE* file = fmemopen(const_cast<uint8_t*>(entries), size, "rb");
    if (file == nullptr) return kPackageCannotOpen;
    PackageStream package = {file, 0, static_cast<int64_t>(size)};
    int result = WalkPackage(&package, game.c_str(), kFullMode, nullptr);
    fclose(file);
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetExtractWorkers(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    int crashAfter = data[0];
    const uint8_t* entries = data + 1;
    size_t entriesSize = size - 1;
    const std::string& root = ScratchFolder();

    std::string game = SetUp();
    TreeSnapshot before = SnapshotTree(root);
    int result = Walk(entries, entriesSize, game);
    TreeSnapshot after = SnapshotTree(root);
    FuzzCheck(SnapshotWithout(after, "game\\") == SnapshotWithout(before, "game\\"),
              "a walk writes nothing outside the install folder");
    if (result != kPackageOk) {
        FuzzCheck(after == before, "a failed Full walk leaves the install folder as it was");
        return 0;
    }
    FuzzCheck(!Exists(game + "\\" + kStagingFolderName), "a finished walk leaves no staging folder");
    for (const auto& entry : before) FuzzCheck(after.count(entry.first) == 1, "a walk deletes nothing");
    if (crashAfter == 0) return 0;

    // The same walk, dying after crashAfter changes; then the next run.
    game = SetUp();
    PlatformFailChangesAfter(crashAfter);
    Walk(entries, entriesSize, game);
    PlatformFailChangesAfter(-1);
    RecoverStaging(game.c_str());
    TreeSnapshot recovered = SnapshotTree(root);
    FuzzCheck(recovered == before || recovered == after,
              "after a crash and recovery the install folder is wholly old or wholly new");
    return 0;
}
