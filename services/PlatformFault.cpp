#include "services/Platform.h"

#include <atomic>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>
#include <algorithm>
#include <cstddef>

#include "services/PlatformFault.h"

namespace {
// Counted from every thread of a walk.
std::atomic<int> s_changesBeforeFailure{-1};
}

void PlatformFailChangesAfter(int count) { s_changesBeforeFailure = count; }

bool PlatformChangeAllowed() {
    int left = s_changesBeforeFailure.load();
    for (;;) {
        if (left < 0) return true;
        if (left == 0) return false;
        if (s_changesBeforeFailure.compare_exchange_weak(left, left - 1)) return true;
    }
}

bool PlatformChangesStopped() { return s_changesBeforeFailure.load() == 0; }

namespace {

// A watched file's state: written, or asked to be written out.
enum UnflushedState { kUnflushedWritten, kUnflushedWrittenOut };

struct Unflushed {
    UnflushedState state;
    int64_t keptLength;  // bytes that were on the disk before it was opened (an append's start)
};

std::mutex s_watchLock;
bool s_watching = false;
// By path, as the program spelled it: the bytes that a power cut would lose.
std::map<std::string, Unflushed> s_unflushed;
// The open files among them.
std::map<FILE*, std::string> s_openPaths;

void SetState(FILE* file, UnflushedState state) {
    std::lock_guard<std::mutex> hold(s_watchLock);
    auto open = s_openPaths.find(file);
    if (open == s_openPaths.end()) return;
    auto found = s_unflushed.find(open->second);
    if (found != s_unflushed.end()) found->second.state = state;
}

int64_t FileLength(const char* path) {
    FILE* file = PlatformOpenFile(path, "rb");
    if (file == nullptr) return 0;
    int64_t length = PlatformSeek(file, 0, SEEK_END) == 0 ? PlatformTell(file) : 0;
    fclose(file);
    return length < 0 ? 0 : length;
}

// Loses the bytes of one file past what was on the disk, outside the change
// counter: the power cut is not a change the program makes.
bool LoseBytes(const std::string& path, const Unflushed& file, PowerCutLoss loss) {
    FILE* in = PlatformOpenFile(path.c_str(), "rb");
    if (in == nullptr) return false;
    std::vector<char> bytes;
    char block[4096];
    for (size_t got; (got = fread(block, 1, sizeof(block), in)) > 0;) bytes.insert(bytes.end(), block, block + got);
    fclose(in);
    size_t kept = static_cast<size_t>(file.keptLength) < bytes.size() ? static_cast<size_t>(file.keptLength) : bytes.size();
    if (loss == kLossTruncated) bytes.resize(kept);
    else std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(kept), bytes.end(), '\0');
    int saved = s_changesBeforeFailure.exchange(-1);
    FILE* out = PlatformOpenFile(path.c_str(), "wb");
    s_changesBeforeFailure = saved;
    if (out == nullptr) return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return fclose(out) == 0 && ok;
}

}  // namespace

void PlatformWatchUnflushed(bool on) {
    std::lock_guard<std::mutex> hold(s_watchLock);
    s_watching = on;
    s_unflushed.clear();
    s_openPaths.clear();
}

int PlatformCutPower(PowerCutLoss loss) {
    std::map<std::string, Unflushed> lost;
    {
        std::lock_guard<std::mutex> hold(s_watchLock);
        lost.swap(s_unflushed);
        s_openPaths.clear();
        s_watching = false;
    }
    int count = 0;
    for (const auto& file : lost)
        if (LoseBytes(file.first, file.second, loss)) ++count;
    return count;
}

void NoteOpenedForWriting(FILE* file, const char* path, bool append) {
    {
        std::lock_guard<std::mutex> hold(s_watchLock);
        if (!s_watching || file == nullptr) return;
    }
    int64_t kept = append ? FileLength(path) : 0;
    std::lock_guard<std::mutex> hold(s_watchLock);
    auto found = s_unflushed.find(path);
    if (found != s_unflushed.end() && found->second.keptLength < kept) kept = found->second.keptLength;
    s_unflushed[path] = Unflushed{kUnflushedWritten, kept};
    s_openPaths[file] = path;
}

void NoteWrittenOut(FILE* file) { SetState(file, kUnflushedWrittenOut); }

void NoteFlushed(FILE* file) {
    std::lock_guard<std::mutex> hold(s_watchLock);
    auto open = s_openPaths.find(file);
    if (open == s_openPaths.end()) return;
    s_unflushed.erase(open->second);
}

void NoteVolumeFlushed() {
    std::lock_guard<std::mutex> hold(s_watchLock);
    for (auto i = s_unflushed.begin(); i != s_unflushed.end();)
        i = i->second.state == kUnflushedWrittenOut ? s_unflushed.erase(i) : std::next(i);
}

void NoteMoved(const char* from, const char* to) {
    std::lock_guard<std::mutex> hold(s_watchLock);
    auto found = s_unflushed.find(from);
    if (found == s_unflushed.end()) return;
    Unflushed state = found->second;
    s_unflushed.erase(found);
    s_unflushed[to] = state;
}

void NoteDeleted(const char* path) {
    std::lock_guard<std::mutex> hold(s_watchLock);
    s_unflushed.erase(path);
}
