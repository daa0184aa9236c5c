// One copy of the program per user: the first copy listens on a local socket named after the
// window title; a later copy finds it there, asks it to bring its window to the front and ends.
#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

class SingleCopy : public QObject {
    Q_OBJECT
public:
    // title names the copy; the socket name adds the user, so other users' copies never meet.
    explicit SingleCopy(const QString& title, QObject* parent = nullptr);
    ~SingleCopy() override;

    // True when this is the first copy: it now listens and emits ActivationRequested whenever
    // a later copy starts. False when another copy runs: unless askToComeForward is false
    // (a copy without windows), it has been asked to come to the front, and this copy should
    // end. A socket left behind by a copy that crashed is removed and taken over.
    bool Claim(bool askToComeForward = true);

    // The socket name for title and this user.
    static QString SocketName(const QString& title);

signals:
    void ActivationRequested();

private:
    void AcceptConnections();

    QString name_;
    std::unique_ptr<QLocalServer> server_;
};
