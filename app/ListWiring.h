// Hands the two lists and the packet views to each other, as the main frame does once its main view
// exists: activating a connection lists its packets; activating a packet shows its payload in the main
// view, then its bytes in the hex view, then its decode in the tree. Bars and views stay the caller's.
#pragma once

class CHexView;
class CListCtrlLeft;
class CListCtrlRight;
class CProtocolTreeView;
class CTrawlerView;

void WireListsAndViews(CListCtrlLeft* connections, CListCtrlRight* packets, CTrawlerView* view, CHexView* hex,
                       CProtocolTreeView* tree);
