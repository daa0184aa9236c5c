// The Retry/Ignore error dialog of file access.
#pragma once

#include <functional>
#include <string>

// Shows text (UTF-8, plain text) in an error dialog with the buttons Retry and Ignore; true
// when the user chose Retry.
bool AskRetry(const std::string& text);

// Tests answer the dialog themselves: a non-empty asker replaces it until an empty one
// restores it. Returns the asker it replaced.
using TRetryAsker = std::function<bool(const std::string& text)>;
TRetryAsker SetRetryAsker(TRetryAsker asker);
