// Standard output of the commands, with every write checked and the final flush and close too,
// so that a full disk or a full device ends a command with a failure and its reason instead of
// a cut-off output that looks like a success.
#pragma once

#include <QByteArray>
#include <QString>

// Writes bytes to standard output and flushes them; false once any write to it has failed.
bool WriteStandardOutput(const QByteArray& bytes);

// Flushes and closes standard output: the system's words for why something written to it was
// lost, empty when everything reached it.
QString CloseStandardOutput();
