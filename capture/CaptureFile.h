// Reading and writing capture files in the libpcap format, and the Save and Open commands.
#pragma once

#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "capture/PacketStore.h"

// Called between batches while a file loads, with the bytes read so far and the file's size. A front end
// may pump its events here; setting g_captureState to CAPTURE_STOPPING ends the load after the batch.
using LoadProgress = std::function<void(int64_t done, int64_t total)>;

// Feeds every record of the file to `handler` (with the file's timestamps) while g_captureState stays
// CAPTURE_RUNNING, then sets it to CAPTURE_IDLE. 1 when the file was read; 0 after a reported failure
// (cannot be opened, not Ethernet, or damaged part-way: the packets read before the damage stay).
int LoadCaptureFile(pcap_handler handler, const std::string& path, const LoadProgress& progress = {});

// Records handed to the handler per dispatch call: a stop or the buffer limit takes effect within one.
inline constexpr int kLoadBatch = 512;

// Packets written between two progress reports of a save.
inline constexpr int kSaveBatch = 4096;

// Set when the program must end now (also from a signal handler: it is lock-free): a save under way stops
// at its next batch and removes its temporary file, and a save asked for later writes nothing; both return
// 0 without a message, and an existing file stays as it was.
extern std::atomic<bool> g_abandonSaves;

// Writes every stored packet (with its own timestamp) to `path`. The table may be growing meanwhile: the
// packets below the count read at the start are written. An existing regular file is replaced only once the
// new one is complete. 1 on success; 0 after a reported failure or when the front end cancelled it.
int SaveCaptureFile(const PacketTable& table, const std::string& path);
// The same for the packets `packets` (indices into `table`, written in that order), for exports.
int SaveCaptureFile(const PacketTable& table, const std::string& path, const std::vector<uint32_t>& packets);

// The Save command: asks for a path and saves. 1 saved; 0 cancelled or failed (reported). Only a successful
// save clears g_unsavedPackets.
int SaveCommand();

// Asked before Start, Open and close replace or drop unsaved packets. true: go on (saved, or the user
// chose not to save); false: the command ends (cancelled, or the save was cancelled or failed).
bool OfferToSaveUnsavedPackets();

// The Open command: stops a running capture (after asking), offers to save, asks for a file and whether to
// apply the filter rules, then opens it as OpenCaptureSource does and returns what that returned.
int OpenCommand();

// What OpenCaptureSource returns when a stream began to be read on the capture thread.
inline constexpr int kStreamStarted = 2;
// What OpenCaptureSource returns when the buffer limit ended the load of a file early (reported).
inline constexpr int kBufferFilled = 3;
// What OpenCaptureSource returns when the front end stopped the load of a file (the packets read are kept;
// nothing is reported: the front end knows).
inline constexpr int kLoadStopped = 4;

// Asks whether the filter rules apply to a file about to be opened: true when the user says yes.
bool AskToApplyRules();

// Opens what the user named after the questions: a pipe or "-" (standard input) begins to be read as a
// stream on the capture thread, like a live capture (kStreamStarted; it ends with the stream or Stop); a
// file is loaded (1 when loaded completely; kBufferFilled when the buffer limit ended it). 0 after a reported
// failure.
int OpenCaptureSource(const std::string& path, bool applyRules);

// Loads `path` into a fresh store with or without the rules, as the Open command does after its questions.
// A file that cannot be opened as a capture file is reported before the store is touched.
int OpenCaptureFile(const std::string& path, bool applyRules);

// Said when the buffer limit ended the reading of a file (or a stream) with the rules applied, `kept`
// packets in.
std::string BufferFilledMessage(size_t kept, bool stream);
