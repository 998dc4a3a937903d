// Starting pacterra-capture, the small program that holds the capture rights, and reading what it says:
// the window and pacterra-cli capture through it when they cannot open an adapter themselves.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The helper beside the running executable, else on the PATH; empty when there is none this user may run.
// PACTERRA_CAPTURE_HELPER, when set, names it instead (empty: never use one).
std::string FindCaptureHelper();

// The helper's path when one is installed (beside the executable or on the PATH), whether or not this user
// may run it: the rights hint then names the helper instead of the program.
std::string InstalledCaptureHelper();

// The group whose members may run an installed helper ("pacterra"), or empty when the helper's group is
// no such group (a build tree's helper, owned by its developer).
std::string CaptureHelperGroup(const std::string& helperPath);

// A running helper: its standard input (closing it ends the capture), output and error.
struct HelperProcess {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
    int error = -1;
};

// Starts `helper` with `args`, an empty environment and no other descriptor of ours. false with the reason
// in `error`.
bool StartCaptureHelper(const std::string& helper, const std::vector<std::string>& args,
                        HelperProcess& process, std::string& error);

// What the helper said and how it ended.
struct HelperResult {
    int exitStatus = -1;   // -1: killed by a signal
    std::string messages;  // its standard error, without the prefix, lines joined by "\n" (no counters line)
    bool haveStats = false;
    unsigned long long received = 0, dropped = 0, interfaceDropped = 0;
};

// Closes what is still open of `process` (input, output), reads its standard error to the end and waits for
// it; a helper that has not ended after `killAfterMs` is killed.
HelperResult FinishCaptureHelper(HelperProcess& process, int killAfterMs = 3000);

// Parses the helper's standard error.
void ParseHelperMessages(const std::string& text, HelperResult& result);

// One device of the helper's adapter list.
struct HelperDevice {
    struct Address {
        int family = 4;  // 4 or 6
        std::string address, netmask;
    };
    std::string name, description;
    unsigned flags = 0;
    int linkType = -1;  // -1: the helper could not open it
    std::vector<Address> addresses;
};

// Parses the helper's adapter list; false when it is not one (wrong header, a malformed line).
bool ParseHelperList(const std::string& text, std::vector<HelperDevice>& devices);

// Runs `helper --list` and parses it; false with the reason in `error`.
bool ListAdaptersThroughHelper(const std::string& helper, std::vector<HelperDevice>& devices,
                               std::string& error);

// Whether the capture library's error text says the rights were missing.
bool IsRightsErrorText(const std::string& text);
