// Recovery from a staging journal that a crash, a damaged disk or another
// program left in any state. The install folder holds the player's files and
// a staging folder with numbered originals (.old), staged files (.new) and a
// discarded original (.del); the input is the journal.
//
// Promises: recovery never touches anything outside the install folder, it
// leaves no staged file, discarded original or journal behind when it
// succeeds, and a second recovery changes nothing (so a crash during one is
// recovered the same way).
#include <string>

#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "services/Platform.h"
#include "tests/fuzz/FuzzKit.h"
#include "tests/support/PackageBuilder.h"

namespace {

constexpr uint64_t kPlayerFileTime = 131000000000000000ULL;

void PlayerFile(const std::string& path, const char* text) {
    WriteFileBytes(path, ToBytes(text));
    PlatformSetFileTime(path.c_str(), kPlayerFileTime);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ClearScratch();
    const std::string& root = ScratchFolder();
    std::string game = root + "\\game";
    std::string staging = game + "\\" + kStagingFolderName;
    PlatformCreateFolder(game.c_str());
    PlatformCreateFolder((game + "\\data").c_str());
    PlatformCreateFolder(staging.c_str());
    PlayerFile(game + "\\readme.txt", "the new readme");
    PlayerFile(game + "\\data\\scene.dat", "the new scene");
    PlayerFile(staging + "\\00000000.old", "the old readme");
    PlayerFile(staging + "\\00000001.new", "a staged scene");
    PlayerFile(staging + "\\00000002.old", "the old scene");
    PlayerFile(staging + "\\00000003.del", "an original to discard");
    WriteFileBytes(staging + "\\journal.txt", Bytes(data, data + size));
    PlatformCreateFolder((root + "\\other").c_str());
    PlayerFile(root + "\\other\\keep.txt", "not the game's");
    PlayerFile(root + "\\game.txt", "a sibling of the game folder");

    TreeSnapshot before = SnapshotTree(root);
    int result = RecoverStaging(game.c_str());
    TreeSnapshot after = SnapshotTree(root);
    FuzzCheck(SnapshotWithout(after, "game\\") == SnapshotWithout(before, "game\\"),
              "recovery changes nothing outside the install folder");
    if (result == kPackageOk) {
        std::string prefix = std::string("game\\") + kStagingFolderName + "\\";
        for (const auto& entry : after) {
            const std::string& name = entry.first;
            if (name.compare(0, prefix.size(), prefix) != 0 || name == prefix) continue;
            FuzzCheck(name.size() > 4 && name.compare(name.size() - 4, 4, ".old") == 0,
                      "only an unmapped original stays in the staging folder");
        }
    }
    int again = RecoverStaging(game.c_str());
    FuzzCheck(SnapshotTree(root) == after, "a second recovery changes nothing");
    if (result == kPackageOk) FuzzCheck(again == kPackageOk, "a second recovery succeeds as the first did");
    return 0;
}
