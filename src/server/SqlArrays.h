// Many values in one statement parameter: a PostgreSQL array in its text form, so that one
// statement (unnest, = ANY) handles every computer of an upload at once instead of one round
// trip each.
#pragma once

#include <QByteArray>
#include <cstdint>
#include <string>
#include <string_view>

// A number as PostgreSQL reads it back to the same double: the shortest round-trip decimal, and
// its names for NaN and the infinities.
std::string PostgresReal(double value);

class TSqlArray {
public:
    void AddInteger(std::int64_t value) { Next().append(std::to_string(value)); }
    void AddReal(double value) { Next().append(PostgresReal(value)); }
    // A text: quoted, with its quotes and backslashes escaped.
    void AddText(std::string_view text) {
        std::string& out = Next();
        out.push_back('"');
        for (const char c : text) {
            if (c == '"' || c == '\\')
                out.push_back('\\');
            out.push_back(c);
        }
        out.push_back('"');
    }
    // Bytes as a bytea in hexadecimal.
    void AddBytes(const QByteArray& bytes) {
        std::string& out = Next();
        out.append("\"\\\\x");
        out.append(bytes.toHex().constData());
        out.push_back('"');
    }
    bool Empty() const { return count_ == 0; }
    std::size_t Count() const { return count_; }
    std::string Text() const { return "{" + elements_ + "}"; }

private:
    std::string& Next() {
        if (count_++ > 0)
            elements_.push_back(',');
        return elements_;
    }
    std::string elements_;
    std::size_t count_ = 0;
};
