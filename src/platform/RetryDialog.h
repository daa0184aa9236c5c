// The Retry/Ignore error dialog of file access.
#pragma once

#include <functional>
#include <string>

// Shows text (UTF-8, plain text) in an error dialog with the buttons Retry and Ignore; true
// when the user chose Retry.
bool AskRetry(const std::string& text);

// What became of the question while another copy of the program held the file.
enum class TRetryAnswer {
    Retry,
    Ignore,
    Succeeded, // attemptNow succeeded while the question was open: the file is had
};

// The same dialog while another copy of the program holds the file (it is saving, on a slow
// disk, say): the dialog also makes attemptNow every 100 ms and closes by itself once one
// succeeds, so that a wait that ends on its own needs no answer.
TRetryAnswer AskRetryWhileBusy(const std::string& text, const std::string& fileName,
                               const std::function<bool()>& attemptNow);

// Tests answer the dialog themselves: a non-empty asker replaces it (in both cases) until an
// empty one restores it. Returns the asker it replaced.
using TRetryAsker = std::function<bool(const std::string& text)>;
TRetryAsker SetRetryAsker(TRetryAsker asker);

// Without windows no one answers: a waiter replaces the dialog while another copy holds the
// file named, calling attemptNow as long as it is willing to wait; true once an attempt
// succeeded. It takes precedence over an asker. Returns the waiter it replaced.
using TBusyWaiter =
    std::function<bool(const std::string& fileName, const std::function<bool()>& attemptNow)>;
TBusyWaiter SetBusyWaiter(TBusyWaiter waiter);
