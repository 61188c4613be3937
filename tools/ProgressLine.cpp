#include "tools/ProgressLine.h"

#include <cinttypes>

#include "services/Platform.h"
#include "tools/ToolText.h"

namespace {

constexpr int64_t kKiB = 1024;
// A rate measured over less than this is mostly noise.
constexpr uint32_t kMinMeasureMs = 500;
// One progress line; the longest verb and numbers take about 90 characters.
constexpr size_t kProgressBuffer = 160;
constexpr int64_t kSecondsPerHour = 3600;

uint32_t (*s_clock)() = PlatformTickCount;

// The unit that keeps total below 1024 of it, and its divisor.
const char* UnitFor(int64_t total, double* divisor) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB"};
    int unit = 0;
    double d = 1;
    while (unit < 3 && total >= d * kKiB) {
        d *= kKiB;
        ++unit;
    }
    *divisor = d;
    return kUnits[unit];
}

std::string Duration(int64_t seconds) {
    char text[32];
    if (seconds >= kSecondsPerHour)
        snprintf(text, sizeof(text), "%" PRId64 ":%02d:%02d", seconds / kSecondsPerHour,
                 static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    else
        snprintf(text, sizeof(text), "%d:%02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60));
    return text;
}

void Draw(ProgressLine* line, uint32_t now) {
    std::string text = FormatProgress(line->verb, line->files, line->totalFiles, line->bytes, line->totalBytes,
                                      now - line->startTick);
    size_t width = text.size();
    // Blanks over what a longer line before left behind.
    if (width < line->drawnWidth) text.append(line->drawnWidth - width, ' ');
    fprintf(line->out, "\r%s", text.c_str());
    fflush(line->out);
    line->drawnWidth = width;
    line->lastDrawTick = now;
}

}  // namespace

FILE* ProgressStream(FILE* err, bool quiet) { return !quiet && IsTerminal(err) ? err : nullptr; }

void SetProgressClockForTesting(uint32_t (*clock)()) { s_clock = clock != nullptr ? clock : PlatformTickCount; }

void BeginProgress(ProgressLine* line, FILE* out, const char* verb, int64_t totalFiles, int64_t totalBytes) {
    uint32_t now = s_clock();
    *line = ProgressLine{out, verb, totalFiles, totalBytes, 0, 0, now, now, 0};
}

void SetProgress(ProgressLine* line, int64_t files, int64_t bytes) {
    line->files = files;
    line->bytes = bytes;
    if (line->out == nullptr) return;
    uint32_t now = s_clock();
    // Tick differences stay right across the counter's wrap.
    if (now - line->lastDrawTick >= kProgressRedrawMs) Draw(line, now);
}

void EndProgress(ProgressLine* line) {
    if (line->out == nullptr || line->drawnWidth == 0) return;
    fprintf(line->out, "\r%*s\r", static_cast<int>(line->drawnWidth), "");
    fflush(line->out);
    line->drawnWidth = 0;
}

std::string FormatProgress(const char* verb, int64_t files, int64_t totalFiles, int64_t bytes, int64_t totalBytes,
                           uint32_t elapsedMs) {
    double divisor = 1;
    const char* unit = UnitFor(totalBytes > bytes ? totalBytes : bytes, &divisor);
    std::string rate = "-- B/s", left = "--:--";
    if (elapsedMs >= kMinMeasureMs && bytes > 0) {
        double perSecond = static_cast<double>(bytes) * 1000.0 / elapsedMs;
        double rateDivisor = 1;
        const char* rateUnit = UnitFor(static_cast<int64_t>(perSecond), &rateDivisor);
        char text[32];
        snprintf(text, sizeof(text), "%.1f %s/s", perSecond / rateDivisor, rateUnit);
        rate = text;
        int64_t remaining = totalBytes > bytes ? totalBytes - bytes : 0;
        left = Duration(static_cast<int64_t>(static_cast<double>(remaining) / perSecond + 0.5)) + " left";
    }
    char text[kProgressBuffer];
    snprintf(text, sizeof(text), "%s  %" PRId64 "/%" PRId64 " files  %.1f/%.1f %s  %s  %s", verb, files, totalFiles,
             static_cast<double>(bytes) / divisor, static_cast<double>(totalBytes) / divisor, unit, rate.c_str(),
             left.c_str());
    return text;
}
