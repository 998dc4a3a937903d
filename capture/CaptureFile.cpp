#include "capture/CaptureFile.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/FileReader.h"
#include "capture/LiveCapture.h"
#include "capture/PacketIntake.h"
#include "capture/PacketStore.h"
#include "capture/WideIntake.h"
#include "config/CaptureConfig.h"
#include "frontend/FrontEnd.h"
#include "frontend/Messages.h"

namespace {

bool g_loadingFile = false;  // interface thread only

// libpcap reads a pcapng file only while every interface in it has the first one's link type and snapshot
// length: such a file is whole, just beyond what can be read in one go.
bool IsMixedInterfacesError(const std::string& error) {
    return error.find("different from the type of the first interface") != std::string::npos ||
           error.find("different from the snapshot length of the first interface") != std::string::npos;
}

int64_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

// Opens `path` as a capture file that can be read: a regular, non-empty file in a libpcap format holding
// Ethernet frames. Otherwise says why, naming the file, and returns null; nothing else changes.
pcap_t* OpenCheckedCaptureFile(const std::string& path) {
    // What is no capture file at all is named as such; a pipe would also leave the load waiting for a
    // writer (streams are read by StartStreamThread).
    struct stat st {};
    std::string notAFile;
    if (path == "-") {
        notAFile = "Standard input can be read only as a stream.";
    } else if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            notAFile = path + ": it is a directory, not a capture file.";
        else if (!S_ISREG(st.st_mode))
            notAFile = path +
                       ": it is a pipe, device or socket, not a capture file; it can be read only as a "
                       "stream.";
        else if (st.st_size == 0)
            notAFile = path + ": the file is empty (0 bytes).";
    }
    if (!notAFile.empty()) {
        ShowMessage(msg::kFileOpenError, MsgButtons::Ok, notAFile);
        return nullptr;
    }
    char error[PCAP_ERRBUF_SIZE] = "";
    pcap_t* pcap = pcap_open_offline(path.c_str(), error);
    if (!pcap) {
        // The library names the file when it cannot open it, not when it cannot read its format.
        std::string detail = error;
        if (detail.rfind(path, 0) != 0)
            detail = path + ": " + detail;
        ShowMessage(msg::kFileOpenError, MsgButtons::Ok, detail);
        return nullptr;
    }
    // Records are parsed as Ethernet frames (or Linux cooked ones, by the wider intake); anything else would
    // be read as garbage.
    if (int link = pcap_datalink(pcap); !IntakeHandlerFor(link, PacketHandler)) {
        pcap_close(pcap);
        ShowMessage(msg::kFileNotEthernet, MsgButtons::Ok,
                    path + ": the file has " + LinkTypeText(link) + "; " + ReadableLinkTypesText());
        return nullptr;
    }
    return pcap;
}

// Reads the file that OpenCheckedCaptureFile opened as `pcap` (and closes it), as LoadCaptureFile does.
int ReadCaptureFile(pcap_t* pcap, pcap_handler handler, const std::string& path,
                    const LoadProgress& progress) {
    char error[PCAP_ERRBUF_SIZE] = "";
    const int link = pcap_datalink(pcap);
    handler = IntakeHandlerFor(link, handler);
    if (!handler) {  // a cooked file given to a reader of Ethernet frames only
        pcap_close(pcap);
        g_captureState = CAPTURE_IDLE;
        ShowMessage(msg::kFileNotEthernet, MsgButtons::Ok,
                    path + ": the file has " + LinkTypeText(link) + "; only Ethernet (1) can be read.");
        return 0;
    }
    g_storeLinkType = link;
    const int64_t total = FileSize(path);
    std::string damage;
    g_storeStop = STORE_STOP_NONE;
    g_loadingFile = true;
    // A classic file is read in large blocks beside the intake; anything else (pcapng) by the library.
    const bool classic = pcap_major_version(pcap) == 2;
    if (classic) {
        pcap_close(pcap);
        pcap = nullptr;
    }
    ClassicReadResult fast = ClassicReadResult::NotClassic;
    if (classic && g_captureState.load() == CAPTURE_RUNNING) {
        ReadProgress blockProgress;
        if (progress)
            blockProgress = [&](int64_t done) { progress(done, total); };
        fast = ReadClassicCaptureFile(path, handler, nullptr, blockProgress, damage);
        if (fast == ClassicReadResult::NotClassic) {
            pcap = pcap_open_offline(path.c_str(), error);
            if (!pcap)
                damage = error;
        }
    }
    while (pcap && g_captureState.load() == CAPTURE_RUNNING) {
        int n = DispatchPackets(pcap, kLoadBatch, handler, nullptr);
        if (n == PCAP_ERROR) {
            damage = pcap_geterr(pcap);
            break;
        }
        if (n <= 0)
            break;  // end of the file (0) or a break requested
        if (progress) {
            FILE* f = pcap_file(pcap);
            progress(f ? static_cast<int64_t>(std::ftell(f)) : 0, total);
        }
    }
    if (pcap)
        pcap_close(pcap);
    g_loadingFile = false;
    // Stopped by the front end (its progress was cancelled, or its window closed), not by the store.
    const bool stopped = g_captureState.load() == CAPTURE_STOPPING && g_storeStop.load() == STORE_STOP_NONE;
    g_captureState = CAPTURE_IDLE;
    // The packets came from a file: nothing is lost if they are not saved again.
    g_unsavedPackets = 0;

    const bool outOfMemory = g_storeStop.load() == STORE_STOP_NO_MEMORY;
    // A file cut short or rewritten while it was read looks damaged; say what really happened.
    if (const int64_t now = FileSize(path); !damage.empty() && now != total)
        damage += "\nThe file changed while it was read: it had " + std::to_string(total) +
                  " bytes when reading began and has " + std::to_string(now) + " now.";
    if (!damage.empty() && IsMixedInterfacesError(damage))
        ShowMessage(msg::kFileMixedInterfaces, MsgButtons::Ok, damage);
    else if (!damage.empty())
        ShowMessage(msg::kFileDamaged, MsgButtons::Ok, damage);
    if (outOfMemory)
        ShowMessage(OutOfMemoryMessage(g_packetTable.size()));
    if (int shortCount = g_shortPacketCount.load(); shortCount != 0)
        ShowMessage(ShortPacketsMessage(shortCount));
    if (!damage.empty() || outOfMemory)
        return 0;
    return stopped ? kLoadStopped : 1;
}

}  // namespace

int LoadCaptureFile(pcap_handler handler, const std::string& path, const LoadProgress& progress) {
    pcap_t* pcap = OpenCheckedCaptureFile(path);
    if (!pcap) {
        g_captureState = CAPTURE_IDLE;
        return 0;
    }
    const int loaded = ReadCaptureFile(pcap, handler, path, progress);
    return loaded == kLoadStopped ? 1 : loaded;
}

namespace {

// What a save replaces. A regular file (also through a symbolic link, which stays a link) is replaced by a
// complete new file made beside it under a name no one can choose in advance; anything else that exists (a
// device, a pipe) is written directly.
struct SaveTarget {
    std::string final;     // the file to replace or create
    bool existed = false;  // a regular file is there
    bool direct = false;   // not a regular file: written in place as it is
    struct stat old {};    // of the existing file
    std::string refusal;   // not empty: nothing is written, for this reason
};

SaveTarget PlanSave(const std::string& path) {
    SaveTarget t;
    t.final = path;
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0)
        return t;  // a new file (or a directory that does not exist, which the temporary file reports)
    if (::stat(path.c_str(), &t.old) != 0) {
        t.refusal = errno == ENOENT ? "it is a symbolic link to a file that does not exist"
                                    : std::string(std::strerror(errno));
        return t;
    }
    if (!S_ISREG(t.old.st_mode)) {
        t.direct = true;
        return t;
    }
    t.existed = true;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        t.final = real;
        std::free(real);
    }
    return t;
}

// Overwrites the regular file `path` with `bytes`, for a directory where no new file can be made. The room
// for the new bytes is reserved before any old byte changes, and the old bytes are written back should the
// writing fail all the same. 0, or the errno of the failure.
int OverwriteInPlace(const std::string& path, const char* bytes, size_t size) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno;
    auto fail = [fd](int error) {
        ::close(fd);
        return error;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail(errno ? errno : EINVAL);
    std::string old(static_cast<size_t>(st.st_size), '\0');
    for (size_t done = 0; done < old.size();) {
        ssize_t n = ::pread(fd, old.data() + done, old.size() - done, static_cast<off_t>(done));
        if (n <= 0)
            return fail(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    if (int error = ::posix_fallocate(fd, 0, static_cast<off_t>(size)); error != 0) {
        (void)::ftruncate(fd, st.st_size);
        return fail(error);
    }
    auto writeAll = [fd](const char* data, size_t length) {
        for (size_t done = 0; done < length;) {
            ssize_t n = ::pwrite(fd, data + done, length - done, static_cast<off_t>(done));
            if (n < 0)
                return errno;
            done += static_cast<size_t>(n);
        }
        return 0;
    };
    int error = writeAll(bytes, size);
    if (error == 0 && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        error = errno;
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (error != 0) {
        (void)writeAll(old.data(), old.size());
        (void)::ftruncate(fd, st.st_size);
        (void)::fsync(fd);
    }
    ::close(fd);
    return error;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::atomic<bool> g_abandonSaves{false};

namespace {

// `subset`: the packets to write, in order; null writes every packet below the count read at the start.
int SavePackets(const PacketTable& table, const std::string& path, const std::vector<uint32_t>* subset) {
    if (g_abandonSaves.load())
        return 0;
    const size_t count = subset ? subset->size() : table.size();
    auto packetAt = [&](size_t k) -> const PacketRecord& { return table[subset ? (*subset)[k] : k]; };
    // The snapshot length of a live capture, unless a file with larger frames was opened: a reader cuts
    // records to the file's snapshot length.
    int snapshot = kSnapshotLength;
    for (size_t i = 0; i < count; ++i)
        snapshot = std::max(snapshot, packetAt(i).capLen);

    const SaveTarget target = PlanSave(path);
    auto openFailed = [&](const std::string& detail) {
        ShowMessage(msg::kDumpOpenError, MsgButtons::Ok, detail);
        return 0;
    };
    if (!target.refusal.empty())
        return openFailed(path + ": " + target.refusal);

    // Where the bytes go first: a new file beside the target (O_CREAT|O_EXCL, never through a link), or,
    // when its directory takes no new file but the file itself is writable, memory.
    std::string temporary;
    char* memory = nullptr;
    size_t memorySize = 0;
    bool inMemory = false;
    FILE* f = nullptr;
    if (target.direct) {
        f = std::fopen(target.final.c_str(), "wb");
        if (!f)
            return openFailed(path + ": " + std::strerror(errno));
    } else {
        temporary = DirectoryOf(target.final) + "/." + NameOf(target.final) + ".XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd >= 0) {
            f = ::fdopen(fd, "wb");
            if (!f) {
                const int error = errno;
                ::close(fd);
                ::unlink(temporary.c_str());
                return openFailed(path + ": " + std::strerror(error));
            }
        } else {
            const int error = errno;
            temporary.clear();
            if (!target.existed || (error != EACCES && error != EPERM && error != EROFS) ||
                ::access(target.final.c_str(), W_OK) != 0)
                return openFailed(path + ": " + std::strerror(error));
            f = ::open_memstream(&memory, &memorySize);
            inMemory = true;
            if (!f)
                return openFailed(path + ": " + std::strerror(errno));
        }
    }
    auto dropTemporary = [&] {
        if (!temporary.empty())
            ::unlink(temporary.c_str());
    };

    // The frames keep the link type they came with (Ethernet unless the wider intake read cooked frames).
    pcap_t* dead = pcap_open_dead(g_storeLinkType.load(), snapshot);
    if (!dead) {
        std::fclose(f);
        std::free(memory);
        dropTemporary();
        return openFailed("out of memory");
    }
    pcap_dumper_t* dumper = pcap_dump_fopen(dead, f);
    if (!dumper) {
        std::string error = pcap_geterr(dead);
        pcap_close(dead);
        std::fclose(f);
        std::free(memory);
        dropTemporary();
        return openFailed(error);
    }
    bool cancelled = false;
    for (size_t i = 0; i < count; ++i) {
        if (i % kSaveBatch == 0 && i != 0 &&
            (g_abandonSaves.load(std::memory_order_relaxed) ||
             (g_pMainFrame &&
              !g_pMainFrame->ShowSaveProgress(static_cast<int64_t>(i), static_cast<int64_t>(count))))) {
            cancelled = true;
            break;
        }
        const PacketRecord& p = packetAt(i);
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(p.stamp.sec);
        h.ts.tv_usec = p.stamp.usec;
        h.caplen = static_cast<bpf_u_int32>(p.capLen);
        h.len = h.caplen;  // the length on the wire is not kept
        pcap_dump(reinterpret_cast<u_char*>(dumper), &h, p.data);
    }
    // (The progress report may have pumped the events that asked to end the program.)
    cancelled = cancelled || g_abandonSaves.load();
    // pcap_dump reports nothing: a full disk shows up in the stream's error state.
    bool ok = !cancelled && pcap_dump_flush(dumper) == 0 && !std::ferror(f);
    int error = errno;
    if (ok && !temporary.empty()) {
        // The replacement keeps the old file's owner and permissions (captured traffic may be private); a
        // new file gets what a plain create would give it.
        if (target.existed) {
            (void)::fchown(fileno(f), target.old.st_uid, target.old.st_gid);
            (void)::fchmod(fileno(f), target.old.st_mode & 07777);
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            (void)::fchmod(fileno(f), 0666 & ~mask);
        }
        if (::fsync(fileno(f)) != 0) {
            ok = false;
            error = errno;
        }
    }
    pcap_dump_close(dumper);  // closes the stream; a memory stream's bytes are final now
    pcap_close(dead);
    if (ok && g_abandonSaves.load()) {
        ok = false;
        cancelled = true;
    }
    if (ok && !temporary.empty() && std::rename(temporary.c_str(), target.final.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (ok && inMemory) {
        error = memory ? OverwriteInPlace(target.final, memory, memorySize) : ENOMEM;
        ok = error == 0;
    }
    std::free(memory);
    if (!ok) {
        dropTemporary();
        if (cancelled)
            return 0;  // the user knows
        ShowMessage(msg::kDumpWriteError, MsgButtons::Ok, path + ": " + std::strerror(error));
        return 0;
    }
    return 1;
}

}  // namespace

int SaveCaptureFile(const PacketTable& table, const std::string& path) {
    return SavePackets(table, path, nullptr);
}

int SaveCaptureFile(const PacketTable& table, const std::string& path, const std::vector<uint32_t>& packets) {
    for (uint32_t p : packets)
        if (p >= table.size())
            throw std::out_of_range("packet index out of range");
    return SavePackets(table, path, &packets);
}

int SaveCommand() {
    std::string path;
    if (g_pMainFrame)
        path = g_pMainFrame->AskFilePath(IPromptService::FileQuestion::SaveCapture);
    if (path.empty())
        return 0;
    if (!SaveCaptureFile(g_packetTable, path))
        return 0;
    // A running capture goes on storing packets that the file does not hold: they stay unsaved.
    if (g_captureState.load() == CAPTURE_IDLE)
        g_unsavedPackets = 0;
    ShowMessage(msg::kPacketsSaved);
    return 1;
}

bool OfferToSaveUnsavedPackets() {
    if (g_unsavedPackets.load() == 0)
        return true;
    switch (ShowMessage(msg::kSaveUnsavedQuestion, MsgButtons::YesNoCancel)) {
        case MsgAnswer::No:
            return true;
        case MsgAnswer::Yes:
            return SaveCommand() == 1;
        default:
            return false;
    }
}

namespace {

// OpenCaptureFile, telling a load that the front end stopped (kLoadStopped) from a whole one.
int OpenAndReadCaptureFile(const std::string& path, bool applyRules) {
    // A front end that pumps its events during a load could ask for another one: the first must finish (or
    // be cancelled) before the store is cleared under it.
    if (g_loadingFile)
        return 0;
    // Checked before the store is emptied: a file that cannot be read leaves the capture shown as it was.
    pcap_t* pcap = OpenCheckedCaptureFile(path);
    if (!pcap)
        return 0;
    ResetCapture();
    g_skipFilter = applyRules ? 0 : 1;
    g_captureState = CAPTURE_RUNNING;
    LoadProgress progress;
    if (g_pMainFrame)
        progress = [](int64_t done, int64_t total) { g_pMainFrame->ShowLoadProgress(done, total); };
    return ReadCaptureFile(pcap, PacketHandler, path, progress);
}

}  // namespace

int OpenCaptureFile(const std::string& path, bool applyRules) {
    const int loaded = OpenAndReadCaptureFile(path, applyRules);
    return loaded == kLoadStopped ? 1 : loaded;
}

bool AskToApplyRules() {
    return ShowMessage(msg::kApplyFilterQuestion, MsgButtons::YesNo) == MsgAnswer::Yes;
}

int OpenCommand() {
    if (g_loadingFile)
        return 0;
    if (g_captureState.load() != CAPTURE_IDLE) {
        if (ShowMessage(msg::kStopCapturingQuestion, MsgButtons::OkCancel) != MsgAnswer::Ok)
            return 0;
        StopCaptureAndWait();
    }
    if (!OfferToSaveUnsavedPackets())
        return 0;
    std::string path;
    if (g_pMainFrame)
        path = g_pMainFrame->AskFilePath(IPromptService::FileQuestion::OpenCapture);
    if (path.empty())
        return 0;
    const bool apply = AskToApplyRules();
    return OpenCaptureSource(path, apply);
}

int OpenCaptureSource(const std::string& path, bool applyRules) {
    if (g_loadingFile)
        return 0;
    if (IsStreamPath(path)) {
        ResetCapture();
        return StartStreamThread(path, applyRules) ? kStreamStarted : 0;
    }
    const int loaded = OpenAndReadCaptureFile(path, applyRules);
    if (loaded == 0 || loaded == kLoadStopped)
        return loaded;  // a stopped load is no success either: the front end that stopped it says so
    // With the rules applied the buffer limit can end the load early: that is no success.
    if (g_storeStop.load() == STORE_STOP_BUFFER_FULL) {
        ShowMessage(
            BufferFilledMessage(g_packetTable.size(), false), MsgButtons::Ok,
            "Choose a larger buffer under Configure, or open the file without applying the filter, to "
            "read every packet.");
        return kBufferFilled;
    }
    ShowMessage(msg::kFileOpened);
    return 1;
}

std::string BufferFilledMessage(size_t kept, bool stream) {
    return "The buffer of " + std::to_string(std::max(1, g_config.bufferMB)) + " MB filled after " +
           std::to_string(kept) + " packets, and the rest of the " + (stream ? "stream" : "file") +
           " was not read.";
}
