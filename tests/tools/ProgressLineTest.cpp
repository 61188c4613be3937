// The progress line of pack, diff and extract: its text, how often it is
// drawn, that it is wiped at the end, and that it stays off the stream when
// that is no terminal or the maker asked for quiet.
#include "tools/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/tools/CapturedOutput.h"

namespace {

constexpr int64_t kMiB = 1024 * 1024;

// A clock that reads from a script of ticks, one per call.
const uint32_t* s_ticks = nullptr;
uint32_t ScriptedClock() { return *s_ticks++; }

TEST(ProgressLineTest, TextShowsFilesBytesRateAndTimeLeft) {
    const struct {
        const char* fault;
        int64_t files, totalFiles, bytes, totalBytes;
        uint32_t elapsedMs;
        const char* text;
    } cases[] = {
        {"nothing to measure a rate from yet", 0, 10, 0, 2 * kMiB, 100,
         "packing  0/10 files  0.0/2.0 MiB  -- B/s  --:--"},
        {"too soon for a rate that means anything", 1, 10, kMiB, 2 * kMiB, 499,
         "packing  1/10 files  1.0/2.0 MiB  -- B/s  --:--"},
        {"half the bytes in one second: one more second", 5, 10, kMiB, 2 * kMiB, 1000,
         "packing  5/10 files  1.0/2.0 MiB  1.0 MiB/s  0:01 left"},
        {"small totals in bytes", 1, 3, 12, 900, 1000, "packing  1/3 files  12.0/900.0 B  12.0 B/s  1:14 left"},
        {"large totals in GiB and hours", 2, 9, kMiB, 4096 * kMiB, 1000,
         "packing  2/9 files  0.0/4.0 GiB  1.0 MiB/s  1:08:15 left"},
        {"a file that grew beyond the total leaves nothing to wait for", 3, 3, 3 * kMiB, 2 * kMiB, 1000,
         "packing  3/3 files  3.0/2.0 MiB  3.0 MiB/s  0:00 left"},
        {"a rate in KiB while the total is in MiB", 1, 2, 512 * 1024, 4 * kMiB, 2000,
         "packing  1/2 files  0.5/4.0 MiB  256.0 KiB/s  0:14 left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.text, FormatProgress("packing", c.files, c.totalFiles, c.bytes, c.totalBytes, c.elapsedMs))
            << c.fault;
}

TEST(ProgressLineTest, DrawnInPlaceAtMostEveryIntervalAndWipedAtTheEnd) {
    // Begin at 1000; steps at 1100 (too soon), 1250, 1300 (too soon), 2000;
    // then a second line across the wrap of the 32-bit tick counter.
    const uint32_t ticks[] = {1000, 1100, 1250, 1300, 2000, 0xFFFFFFF0u, 0xFFFFFFF0u, 0x100};
    s_ticks = ticks;
    SetProgressClockForTesting(ScriptedClock);
    FILE* out = tmpfile();
    ProgressLine line;
    BeginProgress(&line, out, "extracting", 4, 4 * kMiB);
    SetProgress(&line, 1, 100);
    EXPECT_EQ("", ReadAll(out)) << "drawn before the first interval";
    SetProgress(&line, 1, kMiB);
    const std::string first = "\rextracting  1/4 files  1.0/4.0 MiB  -- B/s  --:--";
    EXPECT_EQ(first, ReadAll(out));
    SetProgress(&line, 2, 2 * kMiB);
    EXPECT_EQ(first, ReadAll(out)) << "drawn again within the interval";
    SetProgress(&line, 3, 3 * kMiB);
    const std::string second = "\rextracting  3/4 files  3.0/4.0 MiB  3.0 MiB/s  0:00 left";
    EXPECT_EQ(first + second, ReadAll(out));
    EndProgress(&line);
    const std::string wipe = "\r" + std::string(second.size() - 1, ' ') + "\r";
    EXPECT_EQ(first + second + wipe, ReadAll(out));
    EXPECT_EQ(0u, line.drawnWidth);

    BeginProgress(&line, out, "x", 1, 1);
    SetProgress(&line, 0, 0);
    EXPECT_EQ(first + second + wipe, ReadAll(out)) << "no time has passed";
    SetProgress(&line, 1, 1);
    EXPECT_EQ(first + second + wipe + "\rx  1/1 files  1.0/1.0 B  -- B/s  --:--", ReadAll(out))
        << "the counter's wrap looks like a long wait or none";
    fclose(out);
    SetProgressClockForTesting(nullptr);
}

TEST(ProgressLineTest, AShorterLineBlanksWhatTheLongerOneLeft) {
    const uint32_t ticks[] = {0, 1000, 2000};
    s_ticks = ticks;
    SetProgressClockForTesting(ScriptedClock);
    FILE* out = tmpfile();
    ProgressLine line;
    BeginProgress(&line, out, "packing", 100, 1000);
    SetProgress(&line, 100, 1000);
    std::string longer = ReadAll(out);
    // The verb swapped for a shorter one: the rest of the old text must go.
    line.verb = "p";
    SetProgress(&line, 100, 1000);
    std::string both = ReadAll(out);
    std::string shorter = both.substr(longer.size());
    EXPECT_EQ(longer.size(), shorter.size()) << "\"" << shorter << "\"";
    EXPECT_EQ(' ', shorter.back());
    fclose(out);
    SetProgressClockForTesting(nullptr);
}

TEST(ProgressLineTest, NothingReachesAStreamThatIsNoTerminalOrAQuietOne) {
    FILE* file = tmpfile();
    EXPECT_EQ(nullptr, ProgressStream(file, false)) << "a file is no terminal";
    EXPECT_EQ(nullptr, ProgressStream(file, true));
    EXPECT_EQ(nullptr, ProgressStream(stderr, true)) << "--quiet wins even on a terminal";
    fclose(file);
    const uint32_t ticks[] = {0, 5000, 9000};
    s_ticks = ticks;
    SetProgressClockForTesting(ScriptedClock);
    ProgressLine line;
    BeginProgress(&line, nullptr, "packing", 1, 1);
    SetProgress(&line, 1, 1);
    EndProgress(&line);
    EXPECT_EQ(0u, line.drawnWidth);
    EXPECT_EQ(1, line.files) << "a silent line still counts";
    SetProgressClockForTesting(nullptr);
}

}  // namespace
