// The network adapters the capture library offers, as the adapter list shows them, and the default choice.
#pragma once

#include <pcap/pcap.h>

#include <functional>
#include <string>
#include <vector>

#include "frontend/CaptureHelper.h"

struct AdapterRow {
    std::string device;       // the capture library's device name
    std::string description;  // "Adapter": the name, and the description in brackets when there is one
    std::string ip;           // "IP"
    std::string netmask;      // "NetMask"
    std::string dataLink;     // "Data-Link"
    std::string unusable;     // why nothing can be captured from it (AdapterUnusableReason); empty if it can
};

// The text shown when an adapter cannot be opened to learn its link type.
inline constexpr char kNoPromiscuousText[] =
    "No promiscuous mode. Capture packets from the same computer only.";

// The adapters with at least one address, in the library's order. false (with the library's message in
// `error`) when enumeration fails. `withDataLink` opens each device once to fill "Data-Link" (through the
// capture helper when the program lacks the rights). `wide` (the
// wider intake is on): also the devices without addresses (Linux's "any"), and the cooked link types named.
bool EnumerateAdapters(std::vector<AdapterRow>& rows, std::string& error, bool withDataLink = true,
                       bool wide = false);

// Why the program can capture nothing from the device of `row` (its "Data-Link" known), in full; empty when
// it can. A network interface that could not be opened here may still be captured through the capture
// helper; the library's other devices (D-Bus, netfilter log, Bluetooth monitor) deliver nothing it reads.
std::string AdapterUnusableReason(const AdapterRow& row, bool wide);

// The rows of a device list as the capture library gives it, without "Data-Link". "Adapter" is the
// device name, with the library's description in brackets when it has one.
std::vector<AdapterRow> AdapterRows(const pcap_if_t* devices, bool withoutAddresses = false);

// "Data-Link" text of a device: the name of its link type, or the no-promiscuous-mode text when it cannot
// be opened.
std::string QueryDataLink(const std::string& device, bool wide = false);
// The same; sets `wantsRights` when the device could not be opened for want of capture rights.
std::string QueryDataLink(const std::string& device, bool wide, bool& wantsRights);

// Fills the "Data-Link" of the rows the program could not open itself from the capture helper's list.
void ApplyHelperLinkTypes(std::vector<AdapterRow>& rows, const std::vector<HelperDevice>& devices, bool wide);

// Name of a link-layer type number as the adapter list shows it.
const char* DataLinkText(int linkType);
// The same, with the Linux cooked types (113, 276) named, as the list shows them with the wider intake on.
const char* WideDataLinkText(int linkType);

// The adapter to use when none is stored: a Windows capture device with an IPv4 address, else the first
// Ethernet device that is up, not loopback, and has an IPv4 address other than 0.0.0.0. Empty when none
// qualifies. Reports a failed enumeration.
std::string ChooseDefaultAdapter();
std::string ChooseDefaultAdapter(const pcap_if_t* devices,
                                 const std::function<bool(const char*)>& isEthernet);

// Whether the device delivers Ethernet frames (from the kernel's hardware type, else by opening it).
bool IsEthernetDevice(const char* name);
