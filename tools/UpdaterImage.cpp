#include "tools/UpdaterImage.h"

#include <cstring>
#include <vector>

#include "package/ProgramImage.h"
#include "resources/Version.h"
#include "services/Platform.h"
#include "tools/ToolFiles.h"

namespace {

// The product name as the version resource holds it, in UTF-16.
const char16_t kProductName[] = u"" UPDATER_PRODUCT_NAME;
// The updater's resources (pictures, the animation, the dialogs) are well
// under this; a larger table is read no further than this.
constexpr int64_t kMaxResourceBytes = 64 << 20;

bool HoldsProductName(const std::vector<char>& bytes) {
    const size_t characters = sizeof(kProductName) / sizeof(kProductName[0]) - 1;
    std::vector<char> wanted;
    for (size_t i = 0; i < characters; ++i) {
        wanted.push_back(static_cast<char>(kProductName[i] & 0xFF));
        wanted.push_back(static_cast<char>(kProductName[i] >> 8));
    }
    for (size_t at = 0; at + wanted.size() <= bytes.size(); at += 2)
        if (memcmp(&bytes[at], wanted.data(), wanted.size()) == 0) return true;
    return false;
}

}  // namespace

UpdaterImageCheck CheckUpdaterImage(const char* path) {
    FileHolder file(PlatformOpenFile(path, "rb"));
    if (!file || PlatformSeek(file.get(), 0, SEEK_END) != 0) return kImageUnreadable;
    int64_t size = PlatformTell(file.get());
    if (size < 0) return kImageUnreadable;
    ImageLayout layout;
    if (!ReadImageLayout(file.get(), size, &layout)) return kImageNotAProgram;
    if (layout.resourceSize == 0) return kImageOtherProgram;
    int64_t length = layout.resourceSize < kMaxResourceBytes ? layout.resourceSize : kMaxResourceBytes;
    std::vector<char> resources(static_cast<size_t>(length));
    if (PlatformSeek(file.get(), layout.resourceOffset, SEEK_SET) != 0 ||
        fread(resources.data(), 1, resources.size(), file.get()) != resources.size())
        return kImageUnreadable;
    return HoldsProductName(resources) ? kImageIsUpdater : kImageOtherProgram;
}

const char* DescribeUpdaterImageCheck(UpdaterImageCheck check) {
    switch (check) {
        case kImageIsUpdater: return "";
        case kImageUnreadable: return "it cannot be read";
        case kImageNotAProgram: return "it is not a Windows program (no PE headers)";
        case kImageOtherProgram:
            return "it is a Windows program, but not this updater: its version resource does not name it";
    }
    return "";
}
