#pragma once

#include <QSize>

namespace brisk {

class SettingsStore;

// How the main window was left at the last exit.
struct WindowPlacement {
  bool zoomed = false;  // maximised
  QSize outerSize;      // frame included
};

// "zoomed", "width" and "height", read before the main window exists. A width of 160 or
// less or a height of 100 or less (too small to have been a usable window, such as the
// size of a minimised one) gives the default of 400 or 460.
WindowPlacement readWindowPlacement(const SettingsStore& store);
// "StayOnTop": on exactly when it holds 1.
bool readStayOnTop(const SettingsStore& store);

// "zoomed", then, unless maximised, "width" and "height"; so a maximised exit keeps the
// size of the last normal one for the next start.
void saveWindowPlacement(const SettingsStore& store, bool maximised, QSize outerSize);
void saveStayOnTop(const SettingsStore& store, bool stayOnTop);

// "CloseToTray": closing the main window hides it in the tray instead of ending the
// program. Off unless it holds 1; files written before the choice existed load silently.
bool readCloseToTray(const SettingsStore& store);
void saveCloseToTray(const SettingsStore& store, bool on);

}  // namespace brisk
