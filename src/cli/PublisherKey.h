// The publisher key of the user: random bytes made on the first --publish and sent with every
// upload, so that the results server lets only this user change the computers this user
// published first. It is kept as hexadecimal digits in the file publisher-key of the user's
// configuration folder of the program ($XDG_CONFIG_HOME/Стендограф, or ~/.config/Стендограф),
// readable and writable by the user alone; the server keeps only its hash. Whoever holds the
// file can change those computers, and without it nobody can: copying it to another computer
// lets that one publish as the same user.
#pragma once

#include <QByteArray>
#include <QString>

struct TPublisherKey {
    QByteArray Hex; // the key's hexadecimal digits; empty when Error says why there is none
    QString Error;
};

// The file the key of this user is kept in.
QString PublisherKeyFile();

// The key in keyFile; when there is no such file, a new key written there first, all at once,
// so that two copies of the program starting at the same moment end with one key. A file that
// others may read, that is not a regular file of this user or that holds no key is refused.
TPublisherKey ReadOrMakePublisherKey(const QString& keyFile);
