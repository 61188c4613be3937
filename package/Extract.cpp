#include "package/Extract.h"

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/ByteReader.h"
#include "package/DeltaEntry.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "services/MessageBoxes.h"
#include "services/Messages.h"
#include "services/Platform.h"
#include "base/PathRules.h"

namespace {

char s_failedEntry[kMaxEntryName];

constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

// How many threads inflate at once in a Full walk: one per core, never more
// than this, so that memory in flight stays two transfer blocks a thread.
constexpr unsigned kMaxWorkers = 8;
// How often the window thread looks at the workers' progress while it pumps.
constexpr uint32_t kProgressIntervalMs = 15;
// How often a large file being written is sent on its way to the disk: every
// so many bytes, a few transfer blocks, so the disk is never idle for long.
constexpr int64_t kWriteOutStride = 8 * static_cast<int64_t>(kTransferBlock);
// No entry index: used where no entry failed.
constexpr size_t kNoEntry = static_cast<size_t>(-1);

unsigned s_workers = 0;  // 0: one per core

// The two transfer buffers of one thread, had once for a whole walk.
struct TransferBuffers {
    uint8_t* input = nullptr;
    uint8_t* output = nullptr;
    bool Get() {
        input = static_cast<uint8_t*>(CheckedAlloc(kTransferBlock));
        if (input != nullptr) output = static_cast<uint8_t*>(CheckedAlloc(kTransferBlock));
        return output != nullptr;
    }
    ~TransferBuffers() {
        free(input);
        free(output);
    }
};

// Where an entry's bytes come from: the package read in order through its
// stream, or read at the entry's own position, which needs no shared file
// position and no lock however many threads read.
struct EntrySource {
    PackageStream* package;
    bool atPosition;   // false: in order
    int64_t position;  // next absolute position, when at its own
};

size_t ReadSource(EntrySource* source, void* out, size_t count) {
    if (!source->atPosition) return ReadPackageBytes(source->package, out, count);
    size_t got = ReadPackageBytesAt(source->package, out, count, source->position);
    source->position += static_cast<int64_t>(got);
    return got;
}

// Counters that the workers of a parallel walk share with the window thread.
struct SharedProgress {
    std::atomic<int64_t> consumed{0};  // package bytes done overall
    std::atomic<size_t> latest{0};     // index of the job started last, plus one
    std::atomic<int64_t> latestBytes{0};
    std::atomic<size_t> stopAbove{kNoEntry};  // jobs of later entries stop
};

// Where one entry's progress goes: to the sink with a message pump in a walk
// in order, to the shared counters in a parallel one.
struct EntryProgress {
    const ProgressSink* sink;
    SharedProgress* shared;  // null in a walk in order
    size_t job;              // this job's index, in a parallel walk
    size_t entry;            // this entry's index in the package
    int64_t consumed;        // overall bytes before this entry's time field
};

bool WriteBlock(FILE* file, const uint8_t* data, size_t size) {
    return fwrite(data, 1, size, file) == size;
}

// Why writing the file shown as shownPath failed. Some systems report a full
// disk as something else: a volume with less than a block left is full.
WriteFailureReason FailedWriteReason(const char* shownPath) {
    WriteFailureReason reason = WriteFailureReasonNow();
    char folder[kMaxPath];
    CopyText(folder, sizeof(folder), shownPath);
    folder[FolderPartLength(folder)] = '\0';
    uint64_t free = 0;
    if (folder[0] != '\0' && PlatformFreeBytes(folder, &free) == 0 && free < kTransferBlock)
        reason = kWriteFailureDiskFull;
    return reason;
}

void Advance(EntryProgress* progress, int64_t fileBytes, int64_t consumed) {
    if (progress->shared == nullptr) {
        if (progress->sink != nullptr) progress->sink->report(progress->sink->context, fileBytes, consumed);
        PumpMessages();
        return;
    }
    if (progress->shared->latest.load() == progress->job + 1) progress->shared->latestBytes.store(fileBytes);
}

bool Stopped(const EntryProgress* progress) {
    return progress->shared != nullptr && progress->entry > progress->shared->stopAbove.load();
}

struct OpenEntry {
    FILE* file = nullptr;
    z_stream stream{};
    bool streamOpen = false;
    ~OpenEntry() {
        if (streamOpen) inflateEnd(&stream);
        if (file != nullptr) fclose(file);
    }
};

// How one file is written.
struct WriteMode {
    bool createNew;  // a new file of the install folder: its name must still be free
    bool staged;     // a numbered name in the staging folder, free by its numbering: made without a look
    bool durable;    // its bytes are sent to the disk before the file is closed
};

// Sends a finished file's bytes on their way to the disk: written out for the
// one device flush before the commit, or flushed here where the system cannot
// write out without flushing (each worker then flushes its own files).
bool SendToDisk(FILE* file) {
    PlatformWriteOut started = PlatformStartWriteOut(file);
    if (started == kWriteOutUnavailable) return PlatformFlushFile(file) == 0;
    return started == kWriteOutStarted;
}

// Opens writePath as mode says; a new file whose name was taken since the
// planning is refused as in the way, the name left to whoever took it.
FILE* OpenForWriting(const char* writePath, const char* shownPath, WriteMode mode, WriteFailureReason* reason) {
    // Opening to replace looks at the name first (a read-only file stays, as
    // Windows keeps it); a name that must be free needs no look.
    FILE* file = mode.createNew || mode.staged ? PlatformCreateNewFile(writePath) : PlatformOpenFile(writePath, "wb");
    if (file != nullptr) return file;
    *reason = FailedWriteReason(shownPath);
    uint32_t attributes = 0;
    if (mode.createNew && PlatformGetAttributes(writePath, &attributes) == 0) *reason = kWriteFailureFolder;
    return nullptr;
}

// Inflates one file entry from source (at its last-write time) into
// writePath, shown as shownPath. Returns a package result; a failure to write
// leaves its reason in *reason.
int InflateEntry(EntrySource* source, TransferBuffers* buffers, int32_t unpackedSize, uint32_t packedSize,
                 const char* shownPath, const char* writePath, WriteMode mode, EntryProgress* progress,
                 WriteFailureReason* reason) {
    OpenEntry r;
    // The last-write time and the stream's first chunk come in one read: a
    // small file then costs the package one seek and one read.
    uint32_t firstChunk = packedSize < kTransferBlock - kFileTimeSize ? packedSize : kTransferBlock - kFileTimeSize;
    size_t got = ReadSource(source, buffers->input, kFileTimeSize + firstChunk);
    ByteReader reader;
    InitReader(&reader, buffers->input, got < kFileTimeSize ? got : kFileTimeSize);
    uint64_t fileTime = 0;
    if (got != kFileTimeSize + firstChunk || !ReadU64(&reader, &fileTime)) return kPackageTruncated;
    int64_t consumed = progress->consumed + kFileTimeSize + firstChunk;
    if (progress->shared != nullptr) progress->shared->consumed += kFileTimeSize + firstChunk;

    r.file = OpenForWriting(writePath, shownPath, mode, reason);
    if (r.file == nullptr) return kPackageCannotWrite;
    // Whole 128 KiB blocks go straight to the file; a runtime buffer would only copy them.
    setvbuf(r.file, nullptr, _IONBF, 0);
    if (progress->sink != nullptr && progress->shared == nullptr)
        progress->sink->beginFile(progress->sink->context, shownPath, unpackedSize);

    if (inflateInit(&r.stream) != Z_OK) return kPackageNoMemory;
    r.streamOpen = true;
    r.stream.next_in = buffers->input + kFileTimeSize;
    r.stream.avail_in = static_cast<uInt>(got - kFileTimeSize);
    r.stream.next_out = buffers->output;
    r.stream.avail_out = kTransferBlock;
    int64_t written = 0;
    uint32_t remaining = packedSize - firstChunk;

    for (;;) {
        if (Stopped(progress)) return kPackageCannotWrite;
        if (r.stream.avail_in == 0 && remaining > 0) {
            uint32_t chunk = remaining < kTransferBlock ? remaining : kTransferBlock;
            got = ReadSource(source, buffers->input, chunk);
            r.stream.next_in = buffers->input;
            r.stream.avail_in = static_cast<uInt>(got);
            consumed += chunk;
            if (progress->shared != nullptr) progress->shared->consumed += chunk;
            remaining -= chunk;
        }
        int z = inflate(&r.stream, Z_NO_FLUSH);
        if (z == Z_STREAM_END) {
            // The stream must end exactly at its last packed byte, or the next
            // entry would be read from the wrong place.
            if (r.stream.avail_in != 0 || remaining != 0) return kPackageCorruptStream;
            size_t n = kTransferBlock - r.stream.avail_out;
            if (n > 0) {
                if (!WriteBlock(r.file, buffers->output, n)) {
                    *reason = FailedWriteReason(shownPath);
                    return kPackageCannotWrite;
                }
                Advance(progress, written + static_cast<int64_t>(n), consumed);
            }
            r.streamOpen = false;
            if (inflateEnd(&r.stream) != Z_OK) return kPackageCorruptStream;
            if (mode.durable && !SendToDisk(r.file)) {
                *reason = FailedWriteReason(shownPath);
                return kPackageCannotWrite;
            }
            FILE* file = r.file;
            r.file = nullptr;
            // A full disk may show only when the last bytes are flushed.
            if (fclose(file) != 0) {
                *reason = FailedWriteReason(shownPath);
                return kPackageCannotWrite;
            }
            PlatformSetFileTime(writePath, fileTime);
            return kPackageOk;
        }
        if (z == Z_BUF_ERROR) return kPackageTruncated;
        if (z != Z_OK) return z == Z_MEM_ERROR ? kPackageNoMemory : kPackageCorruptStream;
        if (r.stream.avail_out == 0) {
            if (!WriteBlock(r.file, buffers->output, kTransferBlock)) {
                *reason = FailedWriteReason(shownPath);
                return kPackageCannotWrite;
            }
            written += kTransferBlock;
            // A large file goes out while it is still being inflated, so the
            // disk works beside the inflating rather than after it. Where
            // the system cannot write out alone, the file is flushed once, at its end.
            if (mode.durable && written % kWriteOutStride == 0 && PlatformStartWriteOut(r.file) == kWriteOutFailed) {
                *reason = FailedWriteReason(shownPath);
                return kPackageCannotWrite;
            }
            r.stream.next_out = buffers->output;
            r.stream.avail_out = kTransferBlock;
            Advance(progress, written, consumed);
        }
    }
}

// One file entry of a parallel walk, found by the pass over the headers.
struct Job {
    std::string shown;
    size_t plan;       // its staging plan
    int64_t position;  // of its last-write time
    int32_t unpacked;
    uint32_t packed;
    size_t entry;
    std::string name;
    int64_t consumed;  // overall bytes before its last-write time, as a walk in order counts
    std::string write;
    WriteMode writeMode{false, false, false};
    int result = kPackageOk;
    WriteFailureReason reason = kWriteFailureOther;
    bool isDelta = false;
    DeltaFields delta{};
};

// What a delta's application tells, passed on as a file's inflation tells it.
struct DeltaApplication {
    EntryProgress* progress;
    int64_t consumed;    // overall bytes up to the delta's stream
    int64_t packedSeen;  // stream bytes already counted
    FILE* target;
    bool durable;
    int64_t writtenOut;  // target bytes last sent on their way to the disk
};

void CountPacked(DeltaApplication* d, int64_t packedRead) {
    if (d->progress->shared != nullptr) d->progress->shared->consumed += packedRead - d->packedSeen;
    d->packedSeen = packedRead;
}

int DeltaApplied(void* context, int64_t written, int64_t packedRead) {
    DeltaApplication* d = static_cast<DeltaApplication*>(context);
    if (Stopped(d->progress)) return 1;
    CountPacked(d, packedRead);
    if (d->durable && written - d->writtenOut >= kWriteOutStride) {
        d->writtenOut = written;
        if (PlatformStartWriteOut(d->target) == kWriteOutFailed) return 1;
    }
    Advance(d->progress, written, d->consumed + packedRead);
    return 0;
}

// Applies a delta entry into its write path: the installed file of its name
// is read by position and stays as it is, the made file is checked against
// its size and hash. Returns a package result as InflateEntry does.
int ApplyDeltaJob(const PackageStream* package, const Job& job, EntryProgress* progress, WriteFailureReason* reason) {
    uint8_t head[kFileTimeSize + kDeltaFieldsSize];
    if (ReadPackageBytesAt(package, head, sizeof(head), job.position) != sizeof(head)) return kPackageTruncated;
    ByteReader reader;
    InitReader(&reader, head, kFileTimeSize);
    uint64_t fileTime = 0;
    if (!ReadU64(&reader, &fileTime)) return kPackageTruncated;
    if (progress->shared != nullptr) progress->shared->consumed += sizeof(head);
    OpenEntry source;
    source.file = PlatformOpenFile(job.shown.c_str(), "rb");
    if (source.file == nullptr) return kPackageSourceMismatch;
    OpenEntry target;
    target.file = OpenForWriting(job.write.c_str(), job.shown.c_str(), job.writeMode, reason);
    if (target.file == nullptr) return kPackageCannotWrite;
    if (progress->sink != nullptr && progress->shared == nullptr)
        progress->sink->beginFile(progress->sink->context, job.shown.c_str(), job.unpacked);
    DeltaApplication d{progress, progress->consumed + static_cast<int64_t>(sizeof(head)), 0, target.file,
                       job.writeMode.durable, 0};
    DeltaProgress told{DeltaApplied, &d};
    int result = ApplyDeltaEntryAt(package, job.position + static_cast<int64_t>(sizeof(head)), job.packed, job.delta,
                                   source.file, target.file, &told);
    if (result == kPackageCannotWrite && !Stopped(progress)) *reason = FailedWriteReason(job.shown.c_str());
    if (result != kPackageOk) return result;
    CountPacked(&d, job.packed);
    Advance(progress, job.unpacked, d.consumed + job.packed);
    if (job.writeMode.durable && !SendToDisk(target.file)) {
        *reason = FailedWriteReason(job.shown.c_str());
        return kPackageCannotWrite;
    }
    FILE* file = target.file;
    target.file = nullptr;
    if (fclose(file) != 0) {
        *reason = FailedWriteReason(job.shown.c_str());
        return kPackageCannotWrite;
    }
    PlatformSetFileTime(job.write.c_str(), fileTime);
    return kPackageOk;
}

// Writes one job's file: a whole file inflated, or a delta applied.
int RunJob(EntrySource* source, TransferBuffers* buffers, Job* job, EntryProgress* progress) {
    if (job->isDelta) return ApplyDeltaJob(source->package, *job, progress, &job->reason);
    return InflateEntry(source, buffers, job->unpacked, job->packed, job->shown.c_str(), job->write.c_str(),
                        job->writeMode, progress, &job->reason);
}

// Package bytes after a file entry's header: its time, a delta's fields, its stream.
int64_t EntryBodyBytes(const PackageEntry& entry) {
    return kFileTimeSize + (entry.isDelta ? kDeltaFieldsSize : 0) + static_cast<int64_t>(entry.packedSize);
}

// A new file whose name was found taken is not the walk's to delete.
void NoteIfNameTaken(Job& job) {
    if (job.result != kPackageCannotWrite || !job.writeMode.createNew || job.reason != kWriteFailureFolder) return;
    if (NoteNameTaken(job.plan) != kPackageOk) job.reason = WriteFailureReasonNow();
}

// The workers of the parallel walk under way, for the quit handler.
std::vector<std::thread>* s_running = nullptr;
SharedProgress* s_runningProgress = nullptr;

// Stops and waits for the workers, so that a quit message ends the program
// with no thread still writing.
void StopWorkers() {
    if (s_running == nullptr) return;
    s_runningProgress->stopAbove.store(0);
    for (std::thread& t : *s_running) t.join();
    s_running->clear();
}

}  // namespace

void SetExtractWorkers(unsigned count) { s_workers = count; }

const char* LastFailedEntry() { return s_failedEntry; }

static int WalkEntries(PackageStream* package, const char* destination, ExtractMode mode, const ProgressSink* sink) {
    TransferBuffers buffers;
    if (!buffers.Get()) return kPackageNoMemory;
    EntrySource source{package, false, 0};
    int64_t consumed = 0;
    uint16_t nameLength = 0;
    int result = ReadNameLength(package, &nameLength);
    PackageEntry entry;
    char target[kMaxPath];
    char writePath[kStagedPathBuffer];
    while (result == kPackageOk && nameLength != 0) {
        result = ReadEntryHeaderWithDeltas(package, nameLength, &entry);
        CopyText(s_failedEntry, sizeof(s_failedEntry), entry.name);
        if (result != kPackageOk) return result;
        consumed += nameLength + kSizeFieldsSize + kNameLengthSize;
        bool skip = false;
        if (mode == kBootMode) {
            if (entry.isFolder) {
                if (IsNestedFolderName(entry.name)) break;
                skip = true;
            } else if (!IsStartupFile(entry.name)) {
                if (SkipPackageBytes(package, EntryBodyBytes(entry)) != kPackageOk)
                    return kPackageTruncated;
                skip = true;
            }
        }
        if (!skip) {
            if (!JoinPath(target, sizeof(target), destination, entry.name)) return kPackagePathTooLong;
            if (entry.isFolder) {
                result = StageFolder(target);
            } else {
                result = StageFile(target, writePath, sizeof(writePath));
                if (result == kPackageOk) {
                    EntryProgress progress{sink, nullptr, 0, 0, consumed};
                    WriteFailureReason reason = kWriteFailureOther;
                    result = InflateEntry(&source, &buffers, entry.unpackedSize, entry.packedSize, target,
                                          writePath, WriteMode{false, false, false}, &progress, &reason);
                    if (result == kPackageCannotWrite) NoteWriteFailureReason(target, reason);
                }
                consumed += kFileTimeSize + entry.packedSize;
            }
            if (result != kPackageOk) return result;
        }
        result = ReadNameLength(package, &nameLength);
    }
    if (result == kPackageOk) s_failedEntry[0] = '\0';
    return result;
}

// The first failure in package order, a stream's before its header's.
static int FirstFailure(const std::vector<Job>& jobs, int headerResult, size_t headerFailure,
                        const std::string& headerName) {
    for (const Job& job : jobs) {
        if (job.result == kPackageOk || job.entry > headerFailure) continue;
        CopyText(s_failedEntry, sizeof(s_failedEntry), job.name.c_str());
        if (job.result == kPackageCannotWrite) NoteWriteFailureReason(job.shown.c_str(), job.reason);
        return job.result;
    }
    if (headerResult != kPackageOk) {
        CopyText(s_failedEntry, sizeof(s_failedEntry), headerName.c_str());
        return headerResult;
    }
    s_failedEntry[0] = '\0';
    return kPackageOk;
}

// The jobs one after the other on the window thread, told to the sink block
// by block with the messages pumped, up to the first failure.
static int RunJobsInOrder(PackageStream* package, std::vector<Job>* jobs, const ProgressSink* sink, int headerResult,
                          size_t headerFailure, const std::string& headerName) {
    TransferBuffers buffers;
    if (!buffers.Get()) return kPackageNoMemory;
    for (Job& job : *jobs) {
        EntrySource source{package, true, job.position};
        EntryProgress progress{sink, nullptr, 0, job.entry, job.consumed};
        job.result = RunJob(&source, &buffers, &job, &progress);
        NoteIfNameTaken(job);
        if (job.result != kPackageOk) break;
    }
    return FirstFailure(*jobs, headerResult, headerFailure, headerName);
}

// Runs the jobs from next on, in entry order, until none is left.
static void RunJobs(std::vector<Job>* jobs, std::atomic<size_t>* next, EntrySource shared, TransferBuffers* buffers,
                    SharedProgress* progress) {
    for (;;) {
        size_t i = next->fetch_add(1);
        if (i >= jobs->size()) return;
        Job& job = (*jobs)[i];
        if (job.entry > progress->stopAbove.load()) return;
        // The latest file started is the one the window shows.
        size_t latest = progress->latest.load();
        while (latest < i + 1 && !progress->latest.compare_exchange_weak(latest, i + 1)) {
        }
        if (latest < i + 1) progress->latestBytes.store(0);
        EntrySource source = shared;
        source.position = job.position;
        EntryProgress entryProgress{nullptr, progress, i, job.entry, 0};
        job.result = RunJob(&source, buffers, &job, &entryProgress);
        NoteIfNameTaken(job);
        if (job.result != kPackageOk) {
            // Later entries stop; earlier ones finish, so the failure reported
            // is the first in the package, as a walk in order meets it.
            size_t stop = progress->stopAbove.load();
            while (job.entry < stop && !progress->stopAbove.compare_exchange_weak(stop, job.entry)) {
            }
        }
    }
}

// One entry as the pass over the headers found it.
struct HeaderEntry {
    std::string target;  // in the destination
    std::string name;    // as the package names it
    bool isFolder;
    Job job;  // files only
};

// Reads and hashes the installed file every delta applies to, behind the
// bars' checking phase, before anything is written. kPackageOk, or
// kPackageSourceMismatch naming the first that is missing or another file.
static int CheckDeltaSources(const std::vector<HeaderEntry>& entries, const ProgressSink* sink, int64_t packageTotal) {
    int64_t total = 0;
    for (const HeaderEntry& e : entries)
        if (!e.isFolder && e.job.isDelta) total += e.job.delta.sourceSize;
    if (total == 0) return kPackageOk;
    bool shown = sink != nullptr && sink->beginPhase != nullptr;
    if (shown) sink->beginPhase(sink->context, kCheckingPhase, total);
    struct Checking {
        const ProgressSink* sink;
        int64_t before;
    } checking{shown ? sink : nullptr, 0};
    HashProgress progress{[](void* context, int64_t bytes) {
                              Checking* c = static_cast<Checking*>(context);
                              if (c->sink != nullptr) c->sink->report(c->sink->context, bytes, c->before + bytes);
                              PumpMessages();
                          },
                          &checking};
    for (const HeaderEntry& e : entries) {
        if (e.isFolder || !e.job.isDelta) continue;
        if (shown) sink->beginFile(sink->context, e.target.c_str(), static_cast<int32_t>(e.job.delta.sourceSize));
        if (CheckDeltaSource(e.target.c_str(), e.job.delta, &progress) != kPackageOk) {
            CopyText(s_failedEntry, sizeof(s_failedEntry), e.name.c_str());
            return kPackageSourceMismatch;
        }
        checking.before += e.job.delta.sourceSize;
    }
    if (shown) sink->beginPhase(sink->context, kCopyingPhase, packageTotal);
    return kPackageOk;
}

// A Full walk: the headers are read in order first, then the installed files
// that deltas apply to are checked, then every folder is staged and every
// file planned; nothing is written before the check. Then each file's stream
// is read at its own position and inflated or applied, on the window thread
// alone or by whichever of several threads is free while the window thread
// shows progress and pumps messages.
static int WalkFull(PackageStream* package, const char* destination, const ProgressSink* sink, unsigned workers) {
    int64_t packageTotal = PackageLength(package);
    std::vector<HeaderEntry> entries;
    int64_t headerBytes = 0;
    int64_t streamBytes = 0;
    uint16_t nameLength = 0;
    PackageEntry entry;
    char target[kMaxPath];
    size_t index = 0;
    int headerResult = ReadNameLength(package, &nameLength);
    std::string headerName;
    while (headerResult == kPackageOk && nameLength != 0) {
        headerResult = ReadEntryHeaderWithDeltas(package, nameLength, &entry);
        headerName = entry.name;
        if (headerResult != kPackageOk) break;
        headerBytes += nameLength + kSizeFieldsSize + kNameLengthSize;
        if (!JoinPath(target, sizeof(target), destination, entry.name)) {
            headerResult = kPackagePathTooLong;
            break;
        }
        HeaderEntry e{target, entry.name, entry.isFolder, Job{}};
        if (!entry.isFolder) {
            e.job = Job{target, 0, package->position, entry.unpackedSize, entry.packedSize, index,
                        entry.name, headerBytes + streamBytes, ""};
            e.job.isDelta = entry.isDelta;
            if (entry.isDelta) {
                // The fields are needed now, for the check; the job reads them again.
                headerResult = SkipPackageBytes(package, kFileTimeSize);
                if (headerResult == kPackageOk) headerResult = ReadDeltaFields(package, &e.job.delta);
                if (headerResult != kPackageOk) break;
                e.job.unpacked = static_cast<int32_t>(e.job.delta.targetSize);
            }
            streamBytes += EntryBodyBytes(entry);
            entries.push_back(e);
            // A stream cut short is met by its job, as a walk in order meets it.
            headerResult = SkipPackageBytes(package, entry.packedSize + (entry.isDelta ? 0 : kFileTimeSize));
            if (headerResult != kPackageOk) break;
        } else {
            entries.push_back(e);
        }
        ++index;
        headerResult = ReadNameLength(package, &nameLength);
    }
    size_t headerFailure = headerResult == kPackageOk ? kNoEntry : index;
    int checked = CheckDeltaSources(entries, sink, packageTotal);
    if (checked != kPackageOk) return checked;

    std::vector<Job> jobs;
    for (size_t i = 0; i < entries.size(); ++i) {
        HeaderEntry& e = entries[i];
        int staged = kPackageOk;
        if (e.isFolder) {
            staged = StageFolder(e.target.c_str());
        } else {
            staged = PlanFile(e.target.c_str(), &e.job.plan);
            if (staged == kPackageOk) jobs.push_back(e.job);
        }
        if (staged != kPackageOk) {
            // The entry refused here is the first failure, as the header pass meets it.
            headerResult = staged;
            headerName = e.name;
            headerFailure = i;
            break;
        }
    }
    // The files before a refused header are still inflated: a damaged stream
    // among them is what a walk in order would meet first.
    if (FinishPlanning() != kPackageOk) return kPackageCannotWrite;
    char writePath[kStagedPathBuffer];
    for (Job& job : jobs) {
        if (!PlannedWritePath(job.plan, writePath, sizeof(writePath))) return kPackagePathTooLong;
        job.write = writePath;
        job.writeMode = WriteMode{PlannedInPlace(job.plan), !PlannedInPlace(job.plan), DurableWrites()};
        // A delta replaces the installed file; one gone since the check is not there to apply to.
        if (job.isDelta && job.writeMode.createNew) {
            CopyText(s_failedEntry, sizeof(s_failedEntry), job.name.c_str());
            return kPackageSourceMismatch;
        }
    }
    if (workers <= 1) return RunJobsInOrder(package, &jobs, sink, headerResult, headerFailure, headerName);

    SharedProgress progress;
    progress.consumed = headerBytes;
    progress.stopAbove = headerFailure;
    std::vector<TransferBuffers> buffers(workers);
    for (TransferBuffers& b : buffers)
        if (!b.Get()) return kPackageNoMemory;
    EntrySource shared{package, true, 0};
    std::atomic<size_t> next{0};
    unsigned finished = 0;
    std::mutex finishLock;
    std::condition_variable finishedOne;
    std::vector<std::thread> threads;
    s_running = &threads;
    s_runningProgress = &progress;
    SetBeforeQuit(StopWorkers);
    for (unsigned w = 0; w < workers; ++w)
        threads.emplace_back([&, w] {
            RunJobs(&jobs, &next, shared, &buffers[w], &progress);
            std::lock_guard<std::mutex> hold(finishLock);
            ++finished;
            finishedOne.notify_one();
        });
    size_t shown = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(finishLock);
            if (finishedOne.wait_for(hold, std::chrono::milliseconds(kProgressIntervalMs),
                                     [&] { return finished == workers; }))
                break;
        }
        if (sink != nullptr) {
            // Every file start is told, in package order; the bytes are the latest file's.
            for (size_t latest = progress.latest.load(); shown < latest; ++shown)
                sink->beginFile(sink->context, jobs[shown].shown.c_str(), jobs[shown].unpacked);
            sink->report(sink->context, progress.latestBytes.load(), progress.consumed.load());
        }
        PumpMessages();
    }
    for (std::thread& t : threads) t.join();
    threads.clear();
    SetBeforeQuit(nullptr);
    s_running = nullptr;
    s_runningProgress = nullptr;
    if (sink != nullptr) {
        for (size_t latest = progress.latest.load(); shown < latest; ++shown)
            sink->beginFile(sink->context, jobs[shown].shown.c_str(), jobs[shown].unpacked);
        int64_t lastBytes = shown == jobs.size() && shown > 0 ? jobs[shown - 1].unpacked : progress.latestBytes.load();
        sink->report(sink->context, lastBytes, progress.consumed.load());
    }

    return FirstFailure(jobs, headerResult, headerFailure, headerName);
}

int WalkPackage(PackageStream* package, const char* destination, ExtractMode mode, const ProgressSink* sink) {
    s_failedEntry[0] = '\0';
    int result = BeginStaging(destination, mode == kBootMode);
    if (result != kPackageOk) return result;
    unsigned workers = s_workers != 0 ? s_workers : std::thread::hardware_concurrency();
    if (workers > kMaxWorkers) workers = kMaxWorkers;
    // The start-up files are few and small: Boot walks keep to one thread and their seeks.
    if (mode == kFullMode) result = WalkFull(package, destination, sink, workers == 0 ? 1 : workers);
    else result = WalkEntries(package, destination, mode, sink);
    if (result == kPackageOk) result = CommitStaging();
    // A roll-back that cannot finish is what the player must hear of.
    else if (AbortStaging() != kPackageOk) result = kPackageRestoreFailed;
    return result;
}

// Bytes that the package's files take once written: what staging needs free.
static int64_t UnpackedBytes() {
    PackageStream package;
    if (OpenPackageFile(PlatformOpenProgramFile(), &package) != kPackageOk) return 0;
    int64_t total = 0;
    uint16_t nameLength = 0;
    PackageEntry entry;
    while (ReadNameLength(&package, &nameLength) == kPackageOk && nameLength != 0 &&
           ReadEntryHeaderWithDeltas(&package, nameLength, &entry) == kPackageOk) {
        if (entry.isFolder) continue;
        DeltaFields delta;
        if (entry.isDelta && (SkipPackageBytes(&package, kFileTimeSize) != kPackageOk ||
                              ReadDeltaFields(&package, &delta) != kPackageOk))
            break;
        total += entry.isDelta ? delta.targetSize : entry.unpackedSize;
        int64_t rest = entry.isDelta ? entry.packedSize : EntryBodyBytes(entry);
        if (SkipPackageBytes(&package, rest) != kPackageOk) break;
    }
    ClosePackageStream(&package);
    return total;
}

static bool IsWriteFailure(int result) {
    return result == kPackageCannotWrite || result == kPackageCannotReplace || result == kPackageRestoreFailed ||
           result == kPackageFolderBusy;
}

// Asks why the walk could not write, with Retry; true for Retry.
static bool AskRetryAfterWalkFailure(int result) {
    const WriteFailure* failure = LastWriteFailure();
    if (result == kPackageRestoreFailed && failure->applied)
        return AskRetryAfterOriginalLeft(failure->path, failure->original);
    if (result == kPackageRestoreFailed) return AskRetryAfterRestoreFailure(failure->path, failure->original);
    if (result == kPackageFolderBusy) return AskRetryWhileAnotherUpdateRuns(failure->path);
    // Only a full disk is told how much room the update needs.
    double needed = failure->reason == kWriteFailureDiskFull
                        ? static_cast<double>(UnpackedBytes()) / kBytesPerMegabyte
                        : 0.0;
    return AskRetryAfterWriteFailure(failure->reason, failure->path, needed);
}

bool DestinationRefusesWrites(const char* destination) {
    return ProbeStaging(destination) == kPackageCannotWrite && LastWriteFailure()->reason == kWriteFailureDenied;
}

ExtractResult ExtractPackage(const char* destination, ExtractMode mode) {
    for (;;) {
        PackageStream package;
        int result = OpenPackageFile(PlatformOpenProgramFile(), &package);
        if (result == kPackageOk) {
            const ProgressSink* sink = mode == kFullMode ? OpenCopyProgress(PackageLength(&package)) : nullptr;
            result = WalkPackage(&package, destination, mode, sink);
            ClosePackageStream(&package);
        }
        CloseCopyProgress();
        if (result == kPackageOk) return kExtractDone;
        if (result == kPackageSourceMismatch) return kExtractSourceMismatch;
        // A damaged download is the caller's to tell; a folder that would not
        // take the files says why here, and Retry walks the whole package again.
        if (mode != kFullMode || !IsWriteFailure(result)) return kExtractDamaged;
        if (!AskRetryAfterWalkFailure(result)) return kExtractCancelled;
    }
}
