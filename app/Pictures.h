// The program's own pictures, painted at run time: the toolbar buttons (16x15), the tab icons and the
// application icon. No image files to install or lose.
#pragma once

#include <QIcon>

// The toolbar picture of a command; a null icon for commands without one.
QIcon CommandPicture(int command);
// The tab icons: 0 for "Packet", 1 for "Data".
QIcon TabPicture(int tab);
// A trawl net over a blue disc, in the sizes the desktop asks for.
QIcon ApplicationPicture();
