// The pictures of the view area's tabs, drawn here at 16x16.
#pragma once

#include <QIcon>

// The "Packet" tab: a packet with its header band above the bytes.
QIcon PacketTabIcon();
// The "Data" tab: a page of text lines.
QIcon DataTabIcon();
// The "Stream" tab: two speech lines, the client's and the server's, in the lists' direction colours.
QIcon StreamTabIcon();
