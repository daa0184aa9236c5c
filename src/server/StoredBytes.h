// Records as the database holds them: bytea columns of the records' own bytes, and SHA-256
// (OpenSSL's) for identities and publisher keys.
#pragma once

#include "server/ConnectionPool.h"

#include <QByteArray>
#include <cstring>
#include <openssl/evp.h>
#include <pqxx/pqxx>
#include <string>

inline pqxx::binarystring Bytes(const void* data, std::size_t size) {
    return pqxx::binarystring(data, size);
}

inline pqxx::binarystring Bytes(const QByteArray& bytes) {
    return Bytes(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

inline QByteArray BytesOf(const pqxx::field& field) {
    const pqxx::binarystring bytes(field);
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

template <typename Record> Record RecordFrom(const pqxx::field& field) {
    const pqxx::binarystring bytes(field);
    if (bytes.size() != sizeof(Record))
        throw TDatabaseError("a stored record has " + std::to_string(bytes.size()) +
                             " bytes, not " + std::to_string(sizeof(Record)));
    Record record;
    std::memcpy(&record, bytes.data(), sizeof(Record));
    return record;
}

inline QByteArray Sha256(const void* data, std::size_t size) {
    QByteArray digest(32, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_Digest(data, size, reinterpret_cast<unsigned char*>(digest.data()), &length,
                   EVP_sha256(), nullptr) != 1 ||
        length != 32)
        throw TDatabaseError("SHA-256 could not be computed");
    return digest;
}
