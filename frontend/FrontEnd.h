// How the engine reaches the user: messages and questions. The window and the command-line tool each
// implement it; what the store holds they read from the store itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgAnswer { Ok, Cancel, Yes, No };

class IPromptService {
public:
    virtual ~IPromptService() = default;
    // Shows `text` (and, where given, the capture library's own error as `detail`); returns the answer.
    // May be called from the capture thread (with MsgButtons::Ok only): then it must hand the message to the
    // interface thread and return without waiting, because the interface thread may be joining the capture
    // thread.
    virtual MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) = 0;

    // ExportConnections: a CSV or JSON Lines file to write; ExportPackets: a capture file to write.
    enum class FileQuestion { SaveCapture, OpenCapture, ExportConnections, ExportPackets };
    // Asks for a file to write or to read; empty when the user cancels.
    virtual std::string AskFilePath(FileQuestion) { return {}; }

    // Progress of a long file load, between batches (done and total in bytes); from the capture thread when
    // the load runs there. The load ends early through the token its command was given.
    virtual void ShowLoadProgress(int64_t /*done*/, int64_t /*total*/) {}

    // Progress of a save, between batches of packets (done and total in packets). false cancels the save:
    // nothing is written over an existing file and the packets stay unsaved.
    virtual bool ShowSaveProgress(int64_t /*done*/, int64_t /*total*/) { return true; }
};

class IMainFrame : public IPromptService {};

// Set by the front end before any packet is handled; null means nobody listens (messages then go to
// standard error and questions get their first button).
extern IMainFrame* g_pMainFrame;

MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons = MsgButtons::Ok,
                      const std::string& detail = {});

// The prompt service of a program without a window (the command-line tool): messages go to standard error
// with plain line ends, a question takes its first button, and no file is chosen.
IPromptService& StandardErrorPrompts();

// "link type 113 (LINUX_SLL)": the detail of a refusal of anything but Ethernet.
std::string LinkTypeText(int linkType);

// The message shown when a capture or file load ends after frames shorter than their IP length.
std::string ShortPacketsMessage(int count);

// The message when the store could not grow: the capture or file load ended early with `kept` packets.
std::string OutOfMemoryMessage(size_t kept);

// How to capture without root, for messages about missing capture rights: the setcap line for the running
// executable (the command-line tool and the window each name themselves).
std::string CaptureRightsHint();
