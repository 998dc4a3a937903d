// The program's own pictures, painted at run time: the toolbar buttons (16x15) and the application icon. No
// image files to install or lose.
#pragma once

#include <QIcon>

// The toolbar picture of a command; a null icon for commands without one.
QIcon CommandPicture(int command);
// A trawl net over a blue disc, in the sizes the desktop asks for.
QIcon ApplicationPicture();
