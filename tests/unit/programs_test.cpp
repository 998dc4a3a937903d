// Both programs with closed standard descriptors, and their answers to --help and --version when those
// cannot be written.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Programs, ClosedDescriptorsAndOutputThatCannotBeWritten) {
    const fs::path dir = fs::temp_directory_path() / ("pacterra-programs-test-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string bin = std::string(PACTERRA_BINARY_DIR) + "/bin/";
    const std::string sample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
    struct Case {
        const char* what;
        std::string command;  // standard error goes to a file, standard output as the command says
        int status;
        std::string err;  // a part of standard error
    } cases[] = {
        {"cli --help to a full disk", "pacterra-cli --help >/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"cli --version to a full disk", "pacterra-cli --version >/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"cli help to a full disk", "pacterra-cli help >/dev/full", 1,
         "pacterra-cli: cannot write the output: No space left on device"},
        {"window --help to a full disk", "pacterra --help >/dev/full", 1,
         "pacterra: cannot write the output: No space left on device"},
        {"window --version to a full disk", "pacterra --version >/dev/full", 1,
         "pacterra: cannot write the output: No space left on device"},
        {"window --help-all to a full disk", "pacterra --help-all >/dev/full", 1,
         "pacterra: cannot write the output: No space left on device"},
        {"cli --version", "pacterra-cli --version >/dev/null", 0, ""},
        {"window --help-all", "pacterra --help-all >/dev/null", 0, ""},
        {"cli reading a closed standard input", "pacterra-cli connections - <&- >/dev/null", 1,
         "standard input: truncated dump file; tried to read 4 file header bytes, only got 0\nThe stream is "
         "empty: it ended before any byte arrived."},
        {"cli writing to a closed standard output", "pacterra-cli connections '" + sample + "' >&-", 0,
         "packets,"},
        {"window reading a closed standard input", "pacterra --bench-load - <&- >/dev/null", 1,
         "The stream is empty: it ended before any byte arrived."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path err = dir / "err";
        // A program that reads one of its own descriptors as standard input would wait for ever.
        const std::string command =
            "cd '" + dir.string() + "' && HOME='" + dir.string() + "' XDG_CONFIG_HOME='" + dir.string() +
            "' QT_QPA_PLATFORM=offscreen timeout 20 " + bin + c.command + " 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << raw;
        EXPECT_EQ(WEXITSTATUS(raw), c.status) << ReadFile(err);
        EXPECT_NE(ReadFile(err).find(c.err), std::string::npos) << ReadFile(err);
    }
    fs::remove_all(dir);
}

// A settings file that would be read for ever (a pipe, a device) or is far too large is reported once and
// left alone; the tool goes on with the default options.
TEST(Programs, UnfitSettingsFilesAreNotRead) {
    const fs::path dir = fs::temp_directory_path() / ("pacterra-settings-test-" + std::to_string(::getpid()));
    fs::create_directories(dir / "Morvane");
    const fs::path settings = dir / "Morvane" / "Pacterra.conf";
    const std::string cli = std::string(PACTERRA_BINARY_DIR) + "/bin/pacterra-cli";
    const std::string sample = std::string(PACTERRA_SOURCE_DIR) + "/res/sample.cap";
    struct Case {
        const char* what;
        std::string make;  // a shell command that puts the file in place
        std::string why;
    } cases[] = {
        {"a pipe", "mkfifo '" + settings.string() + "'", "it is a pipe, not a regular file"},
        {"a link to /dev/zero", "ln -s /dev/zero '" + settings.string() + "'",
         "it is a device, not a regular file"},
        {"a file of 3 GB", "truncate -s 3G '" + settings.string() + "'", "it is larger than 16 MB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(settings);
        ASSERT_EQ(std::system(c.make.c_str()), 0);
        const fs::path err = dir / "err";
        const std::string command = "HOME='" + dir.string() + "' XDG_CONFIG_HOME='" + dir.string() +
                                    "' timeout 20 '" + cli + "' connections '" + sample +
                                    "' --rules >/dev/null 2>'" + err.string() + "'";
        const int raw = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(raw)) << raw;
        EXPECT_EQ(WEXITSTATUS(raw), 0) << ReadFile(err);
        const std::string text = ReadFile(err);
        const std::string report = "Cannot read the settings file \"" + settings.string() + "\": " + c.why;
        EXPECT_NE(text.find(report), std::string::npos) << text;
        EXPECT_EQ(text.find(report), text.rfind(report)) << "reported twice: " << text;
        EXPECT_FALSE(fs::exists(settings.string() + ".damaged"));
    }
    fs::remove_all(dir);
}

}  // namespace
