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

// Why the single-copy rule could not be set up, in parts that each language words its own way.
struct TSingleCopyFailure {
    enum class TStep {
        None,
        MakeFolder,  // the private folder could not be made
        CheckFolder, // it could not be looked at, or is not fit (Fault)
        Lock,        // the lock guarding the set-up stayed taken
        Listen,      // the socket could not be listened on (Detail: the toolkit's words)
    };
    enum class TFault {
        None,
        NotAFolder,
        OtherUser,      // it belongs to another user
        OthersMayEnter, // other users may enter it
    };
    TStep Step = TStep::None;
    TFault Fault = TFault::None;
    QString Path; // the folder, lock or socket concerned
    int Errno = 0;
    QString Detail;
};

// The failure in English, for the command line and tests.
QString SingleCopyFailureText(const TSingleCopyFailure& failure);

// What a copy is doing, as it tells later copies.
enum class TCopyRole {
    Window, // the program's windows
    Series, // a series run from the command line, without windows
};

enum class TClaimResult {
    First,          // this is the first copy: it now listens
    WindowRuns,     // another copy shows its windows (and was asked to come to the front)
    WindowInSeries, // the same, but its window runs a series: it comes forward after that
    SeriesRuns,     // another copy runs a series from the command line
    NotSetUp,       // the rule could not be set up (see FailureReason); this copy may go on
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

    // While busy (its window runs a series), later copies learn that this copy comes to the
    // front only when that is over.
    void SetBusy(bool busy) { busy_ = busy; }

    // Why the rule could not be set up.
    const TSingleCopyFailure& Failure() const { return failure_; }
    // The same in English, for the command line and tests.
    QString FailureReason() const { return SingleCopyFailureText(failure_); }

    // The folder of the socket and the lock for this user; empty, with the reason in *failure,
    // when no safe folder can be had.
    static QString PrivateFolder(TSingleCopyFailure* failure);
    // The socket's full name for title, in folder.
    static QString SocketPath(const QString& folder, const QString& title);

signals:
    void ActivationRequested();

private:
    void AcceptConnections();

    QString title_;
    TCopyRole role_;
    bool busy_ = false;
    TSingleCopyFailure failure_;
    std::unique_ptr<QLocalServer> server_;
};
