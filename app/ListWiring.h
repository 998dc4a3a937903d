// The one place where the lists meet the packet views, for the main frame and the packet viewer alike:
// activating a connection lists its packets, and emptying the connections list empties the packets list;
// activating a packet shows its payload in the main view, then its bytes in the hex view, then its decode in
// the tree (the order the user sees them fill; Qt calls the slots in the order they were connected). Any
// view may be null. Bars and views stay the caller's.
#pragma once

class CHexView;
class CListCtrlLeft;
class CListCtrlRight;
class CProtocolTreeView;
class CTrawlerView;

void WireListsAndViews(CListCtrlLeft* connections, CListCtrlRight* packets, CTrawlerView* view, CHexView* hex,
                       CProtocolTreeView* tree);
