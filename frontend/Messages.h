// The fixed texts of the messages and questions that the engine and the window show, in one place: the
// engine, the window and the tests all name them from here. Texts built around figures (a count, a path)
// are made by the functions beside the engine code that knows the figures.
#pragma once

namespace msg {

// Questions
inline constexpr char kApplyFilterQuestion[] =
    "You can choose to apply current filter configuration on the offline packets file or not. \r\nNote: Due "
    "to the filter, some packets will be discarded. \r\n\r\nDo you want to apply?";
inline constexpr char kStopCapturingQuestion[] = "Currently capturing.\r\n\r\nDo you want to stop capturing?";
inline constexpr char kSaveUnsavedQuestion[] =
    "Current captured packets will lose without saving. \r\nNote: You can load the saved file again "
    "afterward\r\n\r\nDo you want to save these packets?";

// Successes
inline constexpr char kFileOpened[] = "Captured packets file opened successfully!";
inline constexpr char kPacketsSaved[] = "Captured packets saved successfully!";

// Failures of capture files and adapters (the library's own error goes beside them as the detail)
inline constexpr char kFileOpenError[] = "PCAP error: Error opening the offline packets file!";
inline constexpr char kFileNotEthernet[] =
    "PCAP error: The offline packets file does not hold Ethernet frames!";
inline constexpr char kFileDamaged[] =
    "PCAP error: The offline packets file is damaged or ends early. The packets read before the damage are "
    "kept.";
inline constexpr char kFileMixedInterfaces[] =
    "PCAP error: The offline packets file holds interfaces of different link types or snapshot lengths, "
    "which "
    "cannot be read together. The packets read before are kept.";
inline constexpr char kAdapterOpenError[] = "PCAP error: Error opening the networking adapter!";
inline constexpr char kAdapterNotEthernet[] =
    "PCAP error: The networking adapter does not deliver Ethernet frames!";
inline constexpr char kDumpOpenError[] = "PCAP Error: Error opening the dump file";
inline constexpr char kDumpWriteError[] =
    "PCAP Error: Error writing the dump file! The captured packets were not saved.";
// A frame of a file opened in place whose bytes the file no longer holds as they were.
inline constexpr char kFrameBytesGone[] =
    "The bytes of this frame are no longer in the file it was opened from: the file was cut short or written "
    "over after it was opened.";
// The same for packets of a connection whose stream is asked for: a stream with them left out would look
// like one with bytes missing from the capture.
inline constexpr char kStreamBytesGone[] =
    "Some packets of this connection are no longer in the file it was opened from: the file was cut short or "
    "written over after it was opened, and the stream cannot be shown.";

}  // namespace msg
