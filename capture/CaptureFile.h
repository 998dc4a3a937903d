// Reading (and later writing) capture files in the libpcap format.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <functional>
#include <string>

// Called between batches while a file loads, with the bytes read so far and the file's size. A front end
// may pump its events here; setting g_captureState to CAPTURE_STOPPING ends the load after the batch.
using LoadProgress = std::function<void(int64_t done, int64_t total)>;

// Feeds every record of the file to `handler` (with the file's timestamps) while g_captureState stays
// CAPTURE_RUNNING, then sets it to CAPTURE_IDLE. 1 when the file was read; 0 after a reported failure
// (cannot be opened, not Ethernet, or damaged part-way: the packets read before the damage stay).
int LoadCaptureFile(pcap_handler handler, const std::string& path, const LoadProgress& progress = {});

// Records handed to the handler per dispatch call: a stop or the buffer limit takes effect within one.
inline constexpr int kLoadBatch = 512;
