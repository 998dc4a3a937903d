// Files written in one piece, for Save, the exports and Save Stream As: a failed or cancelled write never
// leaves a partial file and never harms an existing one.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <string_view>

// The bytes go to a new file beside the target (made under a name no one can choose in advance, never
// through a link) and replace it only on Commit, keeping the old file's owner and permissions; a new file
// gets what a plain create would give it. A symbolic link is followed to the file it names and stays a
// link, except one owned by another user (nor the folder's owner) in a sticky world-writable folder. A device
// or a pipe is written in place as it is. Where the folder takes no new file but the existing file is
// writable, the bytes are kept in memory and written over the file on Commit, once there is room for all of
// them. A writer destroyed before Commit removes what it wrote.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // false (with Error() set) when the file cannot be made; nothing has changed then.
    bool Open();
    // false (with Error() set) once a write failed; later writes do nothing.
    bool Write(std::string_view bytes);
    // Flushes, syncs and puts the file in place. false (with Error() set) on any failure.
    bool Commit();
    // "PATH: reason" of the first failure, PATH as given.
    const std::string& Error() const { return m_error; }

private:
    bool Fail(int error);
    bool Refuse(const char* reason);
    bool Flush();
    bool CommitInPlace();

    std::string m_path;       // as given
    std::string m_final;      // the file replaced (a symbolic link's target)
    std::string m_temporary;  // the new file beside it, until it is renamed over m_final
    int m_fd = -1;
    bool m_existed = false;   // a regular file is replaced
    bool m_inMemory = false;  // its folder takes no new file: it is rewritten in place on Commit
    struct stat m_old {};     // of the replaced file
    std::string m_buffer;
    std::string m_error;
};

// The process's file-creation mask, read once (from /proc/self/status): setting it to read it back would
// race with threads that create files meanwhile.
mode_t ProcessUmask();
