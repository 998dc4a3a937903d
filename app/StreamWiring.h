// The Stream tab's place among the lists: it shows the connection the packets list shows (the one last
// activated in the connections list) and grows with the store's news; "Follow Stream" on a row of either
// list shows that row's connection in the Stream tab. `showTab` brings the tab to the front.
#pragma once

#include <functional>

class CListCtrlLeft;
class CListCtrlRight;
class CStreamView;

void WireStreamView(CListCtrlLeft* connections, CListCtrlRight* packets, CStreamView* stream,
                    std::function<void()> showTab);
