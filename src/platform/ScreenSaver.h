// Keeping the screen saver away while a series of full-screen passes runs.
#pragma once

// active = false asks the desktop's screen-saver service (org.freedesktop.ScreenSaver on the
// session D-Bus) not to start the screen saver; active = true withdraws that request. Without a
// session bus or the service nothing happens: a screen saver is a nuisance during a series, not
// a reason to refuse one. The request also ends with the process, however it ends.
void SetScreenSaverActive(bool active);
