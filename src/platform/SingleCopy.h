// One copy of the program per user: the first copy listens on a local socket named after the
// window title; a later copy finds it there, learns what it is doing, asks it to bring its
// window to the front and ends.
//
// The socket and the lock that guards its set-up live in a folder only this user may enter
// ($XDG_RUNTIME_DIR, or a folder of the user's own in the temporary folder, made with mode 0700
// and checked before use), so that no other user can block a start or take the socket's name.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

// What a copy is doing, as it tells later copies.
enum class TCopyRole {
    Window, // the program's windows
    Series, // a series run from the command line, without windows
};

enum class TClaimResult {
    First,      // this is the first copy: it now listens
    WindowRuns, // another copy shows its windows (and was asked to come to the front)
    SeriesRuns, // another copy runs a series from the command line
    NotSetUp,   // the rule could not be set up (see FailureReason); this copy may go on
};

class SingleCopy : public QObject {
    Q_OBJECT
public:
    // title names the copy; role is what this copy tells later ones.
    explicit SingleCopy(const QString& title, TCopyRole role = TCopyRole::Window,
                        QObject* parent = nullptr);
    ~SingleCopy() override;

    // Looks for a running copy. When there is none this one listens from now on and emits
    // ActivationRequested whenever a later copy with windows starts; a socket left by a copy
    // that crashed is removed and taken over. When a copy with windows runs and
    // askToComeForward, it is asked to come to the front. Waits at most a few seconds for
    // another copy that is starting at the same moment.
    TClaimResult Claim(bool askToComeForward = true);

    // Why the rule could not be set up (English, for the command line and tests).
    const QString& FailureReason() const { return failure_; }

    // The folder of the socket and the lock for this user; empty, with the reason in *error,
    // when no safe folder can be had.
    static QString PrivateFolder(QString* error);
    // The socket's full name for title, in folder.
    static QString SocketPath(const QString& folder, const QString& title);

signals:
    void ActivationRequested();

private:
    void AcceptConnections();

    QString title_;
    TCopyRole role_;
    QString failure_;
    std::unique_ptr<QLocalServer> server_;
};
