// The application's commands that do not depend on the main window: About, the tip of the day, help, the
// home page, a new window, and the configuration dialogs.
#pragma once

class QWidget;

// The application's commands; `parent` owns the dialogs they show.
void ShowAboutBox(QWidget* parent);
void ShowTipOfTheDay(QWidget* parent);
// The tip of the day, when the user has not switched it off.
void ShowTipAtStartup(QWidget* parent);
void OpenHelpContents();
void OpenTutorial();
void OpenHomePage();
// A second, independent instance of this program, offset from `from`'s place (--near X,Y). false when it
// could not be started.
bool StartNewWindow(const QWidget* from = nullptr);
// Keeps `window` whole on the screen it is mostly on: smaller than that screen's free area, inside it.
void KeepOnScreen(QWidget& window);

// The configuration dialogs (only while no capture runs).
void ConfigureCapture(QWidget* parent);
void SelectAdapter(QWidget* parent);
