// Opening a document or an address with the desktop's own program for it (browser, mail
// program, viewer).
#pragma once

#include <functional>
#include <string>

// A target with a scheme ("https://...", "mailto:...") is an address; anything else is a file
// name, a relative one meaning the working directory's file. Whether anything opens is not
// reported: a missing file or a missing program is the desktop's business.
void ShellOpen(const std::string& target);

// Tests see what would be opened: a non-empty opener replaces the desktop until an empty one
// restores it. Returns the opener it replaced.
using TShellOpener = std::function<void(const std::string& target)>;
TShellOpener SetShellOpener(TShellOpener opener);
