// --publish and --fetch: the results file and a results server. The windows never reach the
// network; only these commands do, and only to the address given.
#pragma once

#include "cli/CommandLine.h"

#include <QByteArray>
#include <QString>

// The answer of a server to one request, or why there was none.
struct TServerAnswer {
    bool Reached = false; // false: no answer at all; Error says why
    int Status = 0;       // the HTTP status
    QByteArray Body;
    QString Error;
};

// The address of a path of the server at base (with or without a trailing slash).
QString ServerAddress(const QString& base, const QString& pathAndQuery);

// The reason a server gives in its JSON answer ({"error": ...}), or the status line.
QString RefusalReason(const TServerAnswer& answer);

// Uploads the results file (--results, default Results.bin) and prints the server's answer.
// 0 when the server took it, 1 when it refused it or could not be reached, 2 when there is no
// file to send.
int RunPublishCommand(const TCommandLineOptions& options);

// Downloads the server's results file of the ranking's first --top computers into
// Community.bin of the working folder: checked with the program's reader, written whole with
// the records the reader believes (those it leaves out are named on standard error), then put
// in place, so that an old Community.bin stays as it was when anything fails. 0 when it was
// saved; 1 when the server refused or could not be reached, sent no whole results file, or the
// file could not be written.
int RunFetchCommand(const TCommandLineOptions& options);
