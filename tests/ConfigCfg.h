// A Config.cfg of a test's own rules, for the programs the test runs.
#pragma once

#include <filesystem>
#include <fstream>

#include "config/Archive.h"
#include "config/CaptureConfig.h"

// `config` saved as the program saves it, in the file `path`.
inline void WriteConfigFile(const std::filesystem::path& path, CCaptureConfig config) {
    CArchive ar;
    config.SerializeConfig(ar);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(ar.Bytes().data()),
               static_cast<std::streamsize>(ar.Bytes().size()));
}
