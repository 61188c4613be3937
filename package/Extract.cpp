#include "package/Extract.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "package/ByteReader.h"
#include "package/PackageFormat.h"
#include "package/Staging.h"
#include "services/MessageBoxes.h"
#include "services/Platform.h"
#include "shell/PathRules.h"
#include "shell/WorkingFolder.h"

namespace {

char s_failedEntry[kMaxEntryName];

// Told when writing into the game's folder failed and the folder was put back
// as it was: what stopped it, in words a player can act on, and Retry.
constexpr const char* kKeptAsItWas = "ゲームのフォルダは更新前のまま残っています。\n";
constexpr const char* kWriteInUse =
    "ファイル「%s」は他のプログラムが使用しているため、書き換えられませんでした。\n%s"
    "ゲームを終了してから［再試行］を押してください。";
constexpr const char* kWriteDenied =
    "「%s」に書き込む権限がありません。\n%s"
    "アップデータを右クリックして「管理者として実行」を選び、起動し直してください。";
constexpr const char* kWriteDiskFull =
    "ディスクの空き容量が足りないため、「%s」を書き込めませんでした。\n%s"
    "アップデートには約 %.1f MB の空き容量が必要です。空きを作ってから［再試行］を押してください。";
constexpr const char* kWriteReadOnly =
    "ファイル「%s」は読み取り専用のため、書き換えられませんでした。\n%s"
    "読み取り専用の設定を外してから［再試行］を押してください。";
constexpr const char* kWriteFolderInTheWay =
    "「%s」と同じ名前のファイルまたはフォルダがあるため、書き込めませんでした。\n%s"
    "移動または削除してから［再試行］を押してください。";
constexpr const char* kWriteOther =
    "「%s」を書き込めませんでした。\n%s［再試行］を押すと、もう一度試します。";
constexpr const char* kRestoreFailed =
    "ファイル「%s」を元に戻せませんでした。\n元のファイルは「%s」に残っています。\n"
    "［再試行］を押すか、次にアップデータを実行したときに元に戻されます。";
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

// The pieces of one entry's extraction that must be released on every path.
struct EntryResources {
    uint8_t* input = nullptr;
    uint8_t* output = nullptr;
    FILE* file = nullptr;
    z_stream stream{};
    bool streamOpen = false;

    ~EntryResources() {
        if (streamOpen) inflateEnd(&stream);
        if (file != nullptr) fclose(file);
        free(input);
        free(output);
    }
};

// Records a failed write of the file shown as shownPath. Some systems report
// a full disk as something else; a volume with less than a block left is full.
void NoteFailedWrite(const char* shownPath) {
    NoteWriteFailure(shownPath);
    char folder[kMaxPath];
    CopyText(folder, sizeof(folder), shownPath);
    folder[FolderPartLength(folder)] = '\0';
    uint64_t free = 0;
    if (folder[0] != '\0' && PlatformFreeBytes(folder, &free) == 0 && free < kTransferBlock)
        NoteWriteFailureReason(shownPath, kWriteFailureDiskFull);
}

void Report(const ProgressSink* sink, int64_t fileBytes, int64_t consumed) {
    if (sink != nullptr) sink->report(sink->context, fileBytes, consumed);
    PumpMessages();
}

bool WriteBlock(FILE* file, const uint8_t* data, size_t size) {
    return fwrite(data, 1, size, file) == size;
}

}  // namespace

int ExtractEntry(PackageStream* package, int32_t unpackedSize, uint32_t packedSize, const char* shownPath,
                 const char* writePath, const ProgressSink* sink, int64_t consumed) {
    EntryResources r;
    r.input = static_cast<uint8_t*>(CheckedAlloc(kTransferBlock));
    if (r.input == nullptr) return kPackageNoMemory;
    r.output = static_cast<uint8_t*>(CheckedAlloc(kTransferBlock));
    if (r.output == nullptr) return kPackageNoMemory;

    uint8_t rawTime[kFileTimeSize];
    ByteReader reader;
    InitReader(&reader, rawTime, sizeof(rawTime));
    uint64_t fileTime = 0;
    if (ReadPackageBytes(package, rawTime, sizeof(rawTime)) != sizeof(rawTime) || !ReadU64(&reader, &fileTime))
        return kPackageTruncated;
    consumed += kFileTimeSize;

    r.file = PlatformOpenFile(writePath, "wb");
    if (r.file == nullptr) {
        NoteFailedWrite(shownPath);
        return kPackageCannotWrite;
    }
    // Whole 128 KiB blocks go straight to the file; a runtime buffer would only copy them.
    setvbuf(r.file, nullptr, _IONBF, 0);
    if (sink != nullptr) sink->beginFile(sink->context, shownPath, unpackedSize);

    if (inflateInit(&r.stream) != Z_OK) return kPackageNoMemory;
    r.streamOpen = true;
    r.stream.next_out = r.output;
    r.stream.avail_out = kTransferBlock;
    int64_t written = 0;
    uint32_t remaining = packedSize;

    for (;;) {
        if (r.stream.avail_in == 0 && remaining > 0) {
            uint32_t chunk = remaining < kTransferBlock ? remaining : kTransferBlock;
            size_t got = ReadPackageBytes(package, r.input, chunk);
            r.stream.next_in = r.input;
            r.stream.avail_in = static_cast<uInt>(got);
            consumed += chunk;
            remaining -= chunk;
        }
        int z = inflate(&r.stream, Z_NO_FLUSH);
        if (z == Z_STREAM_END) {
            // The stream must end exactly at its last packed byte, or the next
            // entry would be read from the wrong place.
            if (r.stream.avail_in != 0 || remaining != 0) return kPackageCorruptStream;
            size_t n = kTransferBlock - r.stream.avail_out;
            if (n > 0) {
                if (!WriteBlock(r.file, r.output, n)) {
                    NoteFailedWrite(shownPath);
                    return kPackageCannotWrite;
                }
                Report(sink, written + static_cast<int64_t>(n), consumed);
            }
            r.streamOpen = false;
            if (inflateEnd(&r.stream) != Z_OK) return kPackageCorruptStream;
            FILE* file = r.file;
            r.file = nullptr;
            // A full disk may show only when the last bytes are flushed.
            if (fclose(file) != 0) {
                NoteFailedWrite(shownPath);
                return kPackageCannotWrite;
            }
            PlatformSetFileTime(writePath, fileTime);
            return kPackageOk;
        }
        if (z == Z_BUF_ERROR) return kPackageTruncated;
        if (z != Z_OK) return z == Z_MEM_ERROR ? kPackageNoMemory : kPackageCorruptStream;
        if (r.stream.avail_out == 0) {
            if (!WriteBlock(r.file, r.output, kTransferBlock)) {
                NoteFailedWrite(shownPath);
                return kPackageCannotWrite;
            }
            written += kTransferBlock;
            r.stream.next_out = r.output;
            r.stream.avail_out = kTransferBlock;
            Report(sink, written, consumed);
        }
    }
}

const char* LastFailedEntry() { return s_failedEntry; }

static int WalkEntries(PackageStream* package, const char* destination, int mode, const ProgressSink* sink) {
    int64_t consumed = 0;
    uint16_t nameLength = 0;
    int result = ReadNameLength(package, &nameLength);
    PackageEntry entry;
    char target[kMaxPath];
    char writePath[kStagedPathBuffer];
    while (result == kPackageOk && nameLength != 0) {
        result = ReadEntryHeader(package, nameLength, &entry);
        CopyText(s_failedEntry, sizeof(s_failedEntry), entry.name);
        if (result != kPackageOk) return result;
        consumed += nameLength + kSizeFieldsSize + kNameLengthSize;
        bool skip = false;
        if (mode == kBootMode) {
            if (entry.isFolder) {
                if (IsNestedFolderName(entry.name)) break;
                skip = true;
            } else if (!IsStartupFile(entry.name)) {
                if (SkipPackageBytes(package, kFileTimeSize + entry.packedSize) != kPackageOk)
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
                if (result == kPackageOk)
                    result = ExtractEntry(package, entry.unpackedSize, entry.packedSize, target, writePath,
                                          sink, consumed);
                consumed += entry.packedSize;
            }
            if (result != kPackageOk) return result;
        }
        result = ReadNameLength(package, &nameLength);
    }
    if (result == kPackageOk) s_failedEntry[0] = '\0';
    return result;
}

int WalkPackage(PackageStream* package, const char* destination, int mode, const ProgressSink* sink) {
    s_failedEntry[0] = '\0';
    int result = BeginStaging(destination, mode == kBootMode);
    if (result != kPackageOk) return result;
    result = WalkEntries(package, destination, mode, sink);
    if (result == kPackageOk) result = CommitStaging();
    else AbortStaging();
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
           ReadEntryHeader(&package, nameLength, &entry) == kPackageOk) {
        if (entry.isFolder) continue;
        total += entry.unpackedSize;
        if (SkipPackageBytes(&package, kFileTimeSize + entry.packedSize) != kPackageOk) break;
    }
    ClosePackageStream(&package);
    return total;
}

static bool IsWriteFailure(int result) {
    return result == kPackageCannotWrite || result == kPackageCannotReplace || result == kPackageRestoreFailed;
}

static bool AskRetryAfterWriteFailure(int result) {
    const WriteFailure* failure = LastWriteFailure();
    if (result == kPackageRestoreFailed) return AskRetry(kRestoreFailed, failure->path, failure->original);
    switch (failure->reason) {
        case kWriteFailureInUse: return AskRetry(kWriteInUse, failure->path, kKeptAsItWas);
        case kWriteFailureDenied: return AskRetry(kWriteDenied, failure->path, kKeptAsItWas);
        case kWriteFailureDiskFull:
            return AskRetry(kWriteDiskFull, failure->path, kKeptAsItWas,
                            static_cast<double>(UnpackedBytes()) / kBytesPerMegabyte);
        case kWriteFailureReadOnly: return AskRetry(kWriteReadOnly, failure->path, kKeptAsItWas);
        case kWriteFailureFolder: return AskRetry(kWriteFolderInTheWay, failure->path, kKeptAsItWas);
        default: return AskRetry(kWriteOther, failure->path, kKeptAsItWas);
    }
}

void ExtractPackage(const char* destination, int mode) {
    for (;;) {
        PackageStream package;
        int result = OpenPackageFile(PlatformOpenProgramFile(), &package);
        if (result == kPackageOk) {
            const ProgressSink* sink = mode == kFullMode ? OpenCopyProgress(PackageLength(&package)) : nullptr;
            result = WalkPackage(&package, destination, mode, sink);
            ClosePackageStream(&package);
        }
        CloseCopyProgress();
        if (result == kPackageOk) return;
        // A damaged download says so; a folder that would not take the files
        // says why, and Retry walks the whole package again.
        if (mode != kFullMode || !IsWriteFailure(result)) break;
        if (!AskRetryAfterWriteFailure(result)) shell::FatalExit(-1);
    }
    ShowError(kDamagedPackageMessage);
    shell::FatalExit(-1);
}
