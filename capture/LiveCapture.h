// Live capture: the capture thread and the Start and Stop commands.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "capture/Command.h"
#include "helper/HelperProtocol.h"

class IPromptService;

// Counters of the capture library for the last live capture (read after it ended).
struct CaptureStats {
    bool opened = false;            // the adapter was opened and captured from
    bool readFailed = false;        // reading kept failing (the adapter went away) or a stream was damaged
    uint64_t received = 0;          // packets the kernel delivered to the capture (twice per packet on lo)
    uint64_t dropped = 0;           // dropped for want of buffer space
    uint64_t interfaceDropped = 0;  // dropped by the interface or its driver
};

// Parameters of every live capture.
inline constexpr int kSnapshotLength = capture_helper::kSnapshotLength;
// The kernel hands over a block that is not full after this time anyway (HelperProtocol.h): so the lists
// and the owner lookup follow slow traffic at once, and Stop collects the last, partly filled block in that
// time too.
inline constexpr int kReadTimeoutMs = capture_helper::kReadTimeoutMs;
// Large enough that a burst the interface thread cannot keep up with waits in the kernel instead of
// being dropped.
inline constexpr int kKernelBufferBytes = 64 << 20;

// The Start command: offers to save unsaved packets through `prompts` (a cancelled or failed save ends the
// command), empties the store through ResetCapture, and starts the capture thread on `g_config.adapter`.
// Done when the thread was started; Failed while a capture or load runs.
CommandResult StartCapture(IPromptService& prompts, const CancelToken& cancel = CancelToken::Never());

// Runs `work` as the capture thread (the store's writer), as a load of a file does; the store must be
// reset and g_captureState CAPTURE_RUNNING. Stop and StopCaptureAndWait end and join it as a capture.
void RunOnCaptureThread(std::function<void()> work);

// Starts the capture thread on `device` without any question (a running capture is stopped first); the
// store must already be reset.
void StartCaptureThread(const std::string& device);

// True for "-" (standard input) and for a pipe, device or socket: a capture that arrives as a stream.
bool IsStreamPath(const std::string& path);

// Reads a capture in the libpcap formats from a stream ("-": standard input; or a pipe) on the capture
// thread, like a live capture: the lists fill while it arrives, Stop ends it at once (keeping what had
// arrived), and the end of the stream ends it. With `applyRules` the filter rules and the buffer size
// apply. The store must already be reset. false (reported) when the stream cannot be opened.
bool StartStreamThread(const std::string& path, bool applyRules);

// The Stop command: asks the capture thread to end; returns at once. The thread ends within a moment even
// on an idle interface.
void StopCapture();

// Waits until the capture thread, if any, has ended. Needed before the store is cleared or a load starts.
void JoinCaptureThread();

// Stops a running capture and waits for its end (the close and Open commands, after the user agreed).
void StopCaptureAndWait();

// Stops and waits for a running capture, then ResetCaptureStore (the lists learn of it from the store's
// generation).
void ResetCapture();

CaptureStats LastCaptureStats();

// True while the running capture reads from its open adapter, helper or stream. A capture is started
// (CAPTURE_RUNNING) before the adapter is open, and traffic before the open is not seen.
bool IsCaptureOpen();

// Whether opening an adapter failed for want of capture rights (a status of pcap_activate, or the library's
// error text), so that the message can say how to capture without root.
bool IsCaptureRightsError(int status, const std::string& text);

// The message when reads from the adapter keep failing (it was removed, say): the capture ends with what
// it stored.
std::string ReadFailedMessage(size_t kept);
