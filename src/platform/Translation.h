// The texts of Qt's own dialogs (the buttons of message boxes, the file dialog) in the windows'
// Russian, from Qt's translations as the system installs them.
#pragma once

// Installs Qt's Russian translation into the running application; false when the system has
// none (the dialogs then keep Qt's English).
bool InstallQtRussianTranslation();
