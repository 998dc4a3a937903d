#include "frontend/FrontEnd.h"

#include "frontend/Addresses.h"
#include "frontend/CaptureHelper.h"

#include <pcap/pcap.h>

#include <unistd.h>
#include <cstdio>

IMainFrame* g_pMainFrame = nullptr;

namespace {

class StandardErrorPromptService : public IPromptService {
public:
    MsgAnswer Prompt(const std::string& text, MsgButtons buttons, const std::string& detail) override {
        std::string plain = text;
        for (size_t at; (at = plain.find("\r\n")) != std::string::npos;)
            plain.erase(at, 1);
        std::fprintf(stderr, "%s\n", plain.c_str());
        if (!detail.empty())
            std::fprintf(stderr, "%s\n", detail.c_str());
        switch (buttons) {
            case MsgButtons::Ok:
            case MsgButtons::OkCancel:
                return MsgAnswer::Ok;
            case MsgButtons::YesNo:
            case MsgButtons::YesNoCancel:
                return MsgAnswer::Yes;
        }
        return MsgAnswer::Ok;
    }
};

}  // namespace

IPromptService& StandardErrorPrompts() {
    static StandardErrorPromptService prompts;
    return prompts;
}

MsgAnswer ShowMessage(const std::string& text, MsgButtons buttons, const std::string& detail) {
    // Nobody to ask (the command-line tool): standard error.
    if (g_pMainFrame)
        return g_pMainFrame->Prompt(text, buttons, detail);
    return StandardErrorPrompts().Prompt(text, buttons, detail);
}

std::string LinkTypeText(int linkType) {
    const char* name = pcap_datalink_val_to_name(linkType);
    return "link type " + std::to_string(linkType) + (name ? std::string(" (") + name + ")" : "");
}

std::string ShortPacketsMessage(int count) {
    return "There are " + std::to_string(count) +
           " packets captured shorter than their actual lengths. It is rarely happened, and the possible "
           "reason may be the packets' own errors or your network device isn't supported fully by the "
           "packet-capturing driver. Please contact us via " +
           kSupportEmail + " with necessary information for further details!";
}

std::string OutOfMemoryMessage(size_t kept) {
    return "Out of memory! The capture was stopped early: the " + std::to_string(kept) +
           " packets stored before memory ran out are kept.";
}

namespace {

// Quoted for the shell when the path holds anything but plain path characters.
std::string ShellWord(std::string path) {
    if (path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._-+") ==
        std::string::npos)
        return path;
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string CaptureRightsHint() {
    // With the capture helper installed, only it holds the rights: the program itself never gets them.
    const std::string helper = InstalledCaptureHelper();
    if (const std::string group = CaptureHelperGroup(helper); !group.empty())
        return "Capturing needs raw-socket rights, which only the capture helper " + ShellWord(helper) +
               " holds; the members of the group " + group +
               " may use it. Add yourself to the group once, then log in again:\n    sudo usermod -aG " +
               group + " $USER";
    std::string exe;
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    exe = n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string("PROGRAM");
    // A helper of a build tree: it is the one to give the rights to.
    if (!helper.empty())
        return "Capturing needs raw-socket rights. To capture without root, give the capture helper (and "
               "only "
               "it) the two capabilities once (again after each build):\n    sudo setcap "
               "cap_net_raw,cap_net_admin=eip " +
               ShellWord(helper) +
               "\nWithout the helper, the program itself would need them, with everything it links:\n    "
               "sudo "
               "setcap cap_net_raw,cap_net_admin=eip " +
               ShellWord(exe);
    return "Capturing needs raw-socket rights. To capture without root, give the program the two "
           "capabilities once (again after each update):\n    sudo setcap cap_net_raw,cap_net_admin=eip " +
           ShellWord(exe);
}
