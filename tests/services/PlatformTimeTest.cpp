// Last-write times at the ends of what a Windows file time holds, through the
// POSIX layer: a package entry or a source file may carry any 64-bit time, and
// none may overflow a conversion or wrap into the past. Natively only: the
// Windows layer hands the time to the system unchanged.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "services/Platform.h"
#include "tests/support/PackageBuilder.h"
#include "tests/support/TempFolder.h"

namespace {

// 1970-01-01 as a file time, and the latest time a file time holds.
constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
constexpr uint64_t kLatestFileTime = 0x7FFFFFFFFFFFFFFFULL;
// A folder on a file system that stores any 64-bit second count (tmpfs).
constexpr const char* kWideTimeFolder = "/dev/shm";

TEST(PlatformTimeTest, SettingAFarFutureTimeNeverWrapsIntoThePast) {
    TempFolder dir;
    std::string path = dir / "a.dat";
    ASSERT_TRUE(WriteFileBytes(path, ToBytes("x")));
    struct Case { const char* what; uint64_t time; } cases[] = {
        {"an ordinary time", kTestFileTime},
        {"the latest signed time", kLatestFileTime},
        {"2^63, negative when taken as signed", 0x8000000000000000ULL},
        {"the largest unsigned time", 0xFFFFFFFFFFFFFFFFULL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The file system may keep less than it is given, never an earlier time.
        ASSERT_EQ(0, PlatformSetFileTime(path.c_str(), c.time));
        uint64_t got = 0;
        ASSERT_EQ(0, PlatformGetFileTime(path.c_str(), &got));
        EXPECT_GE(got, kTestFileTime);
        EXPECT_LE(got, kLatestFileTime);
    }
}

TEST(PlatformTimeTest, TimesBeyondAFileTimeAreClampedToItsEnds) {
    struct stat st;
    if (stat(kWideTimeFolder, &st) != 0 || !S_ISDIR(st.st_mode)) GTEST_SKIP() << "no tmpfs folder";
    std::string native = std::string(kWideTimeFolder) + "/platform-time-" + std::to_string(getpid());
    int fd = open(native.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    struct Case { const char* what; int64_t seconds; long nanoseconds; uint64_t expected; } cases[] = {
        {"the Unix epoch", 0, 0, kUnixEpoch},
        {"a tick below a second", 0, 100, kUnixEpoch + 1},
        {"the year 1601", -11644473600LL, 0, 0},
        {"before 1601", -1000000000000LL, 0, 0},
        {"the last whole second a file time holds", 910692730085LL, 0, 9223372036850000000ULL},
        {"the last tick a file time holds", 910692730085LL, 477580700, kLatestFileTime},
        {"past the last tick", 910692730085LL, 477580800, kLatestFileTime},
        {"beyond 2^64 ticks", 10000000000000LL, 0, kLatestFileTime},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        struct timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(c.seconds), c.nanoseconds}};
        ASSERT_EQ(0, utimensat(AT_FDCWD, native.c_str(), times, 0));
        uint64_t got = 1;
        ASSERT_EQ(0, PlatformGetFileTime(native.c_str(), &got));
        EXPECT_EQ(c.expected, got);
    }
    // Setting 2^63 ticks stores its exact second count.
    ASSERT_EQ(0, PlatformSetFileTime(native.c_str(), 0x8000000000000000ULL));
    ASSERT_EQ(0, stat(native.c_str(), &st));
    EXPECT_EQ(910692730085LL, static_cast<int64_t>(st.st_mtim.tv_sec));
    EXPECT_EQ(477580800L, st.st_mtim.tv_nsec);
    unlink(native.c_str());
}

}  // namespace
#endif
