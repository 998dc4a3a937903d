// Reading and writing capture files in the libpcap format, and the Save and Open commands.
#pragma once

#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/Command.h"
#include "capture/PacketStore.h"
#include "frontend/FrontEnd.h"

// Feeds every record of the file to `handler` (with the file's timestamps) while g_captureState stays
// CAPTURE_RUNNING and `cancel` is not set, then sets it to CAPTURE_IDLE; `prompts` shows the progress
// between batches. 1 when the file was read (or the load was cancelled); 0 after a failure told through
// `prompts` (cannot be opened, not Ethernet, or damaged part-way: the packets read before the damage stay).
int LoadCaptureFile(pcap_handler handler, const std::string& path, IPromptService& prompts,
                    const CancelToken& cancel = CancelToken::Never());

// Records handed to the handler per dispatch call: a stop or the buffer limit takes effect within one.
inline constexpr int kLoadBatch = 512;

// Packets written between two progress reports of a save.
inline constexpr int kSaveBatch = 4096;

// Set when the program must end now (also from a signal handler: it is lock-free): a save under way stops
// at its next batch and removes its temporary file, and a save asked for later writes nothing; both return
// Cancelled without a message, and an existing file stays as it was.
extern std::atomic<bool> g_abandonSaves;

// Writes every stored packet (with its own timestamp) to `path`. The table may be growing meanwhile: the
// packets below the count read at the start are written. An existing regular file is replaced only once the
// new one is complete. Failures are told through `prompts`, which also shows the progress (and may cancel
// it, as `cancel` does).
CommandResult SaveCaptureFile(const PacketTable& table, const std::string& path, IPromptService& prompts,
                              const CancelToken& cancel = CancelToken::Never());
// The same for the packets `packets` (indices into `table`, written in that order), for exports.
CommandResult SaveCaptureFile(const PacketTable& table, const std::string& path,
                              const std::vector<uint32_t>& packets, IPromptService& prompts,
                              const CancelToken& cancel = CancelToken::Never());

// The Save command: asks `prompts` for a path and saves. Only a successful save clears g_unsavedPackets.
CommandResult SaveCommand(IPromptService& prompts, const CancelToken& cancel = CancelToken::Never());

// Asked before Start, Open and close replace or drop unsaved packets. true: go on (saved, or the user
// chose not to save); false: the command ends (cancelled, or the save was cancelled or failed).
bool OfferToSaveUnsavedPackets(IPromptService& prompts, const CancelToken& cancel = CancelToken::Never());

// What Open ends with.
enum class OpenResult {
    Failed,         // told through the prompt service
    Cancelled,      // a question was cancelled (or the save before it failed): nothing changed
    Loaded,         // the file was read whole
    StreamStarted,  // a stream began to be read on the capture thread; it ends with the stream or Stop
    BufferFilled,   // the buffer limit ended the load early (told)
    Stopped,        // the load was cancelled; the packets read are kept and nothing is told
};

// The Open command: stops a running capture (after asking), offers to save, asks for a file and whether to
// apply the filter rules, then opens it as OpenCaptureSource does and returns what that returned.
OpenResult OpenCommand(IPromptService& prompts, const CancelToken& cancel = CancelToken::Never());

// Asks whether the filter rules apply to a file about to be opened: true when the user says yes.
bool AskToApplyRules(IPromptService& prompts);

// Opens what the user named after the questions: a pipe or "-" (standard input) begins to be read as a
// stream on the capture thread, like a live capture; a file is loaded, showing its progress through
// `prompts` and ending early when `cancel` is set.
OpenResult OpenCaptureSource(const std::string& path, bool applyRules, IPromptService& prompts,
                             const CancelToken& cancel = CancelToken::Never());

// Called once with what an Open in the background ended with: on the capture thread after a load (its
// messages told), else on the caller's thread before the call returns.
using OpenDone = std::function<void(OpenResult)>;

// OpenCommand and OpenCaptureSource for a front end with an event loop: the questions and the checks
// before the store is touched are made here, then a file is read on the capture thread (the store's
// writer), which shows its progress and tells its messages through `prompts` from that thread. `prompts`
// and `cancel` must outlive the load (JoinCaptureThread).
void OpenCommandInBackground(IPromptService& prompts, const CancelToken& cancel, OpenDone done);
void OpenCaptureSourceInBackground(const std::string& path, bool applyRules, IPromptService& prompts,
                                   const CancelToken& cancel, OpenDone done);

// Loads `path` into a fresh store with or without the rules, as the Open command does after its questions.
// A file that cannot be opened as a capture file is reported before the store is touched. 1 when it was
// read (a cancelled load included), 0 after a reported failure.
int OpenCaptureFile(const std::string& path, bool applyRules, IPromptService& prompts,
                    const CancelToken& cancel = CancelToken::Never());

// Said when the buffer limit ended the reading of a file (or a stream) with the rules applied, `kept`
// packets in.
std::string BufferFilledMessage(size_t kept, bool stream);
