#pragma once

#include <QString>
#include <stdexcept>

// An error that reaches the caller of one of our operations: a missing position or key, a
// duplicate key, a bad array range. It carries a number and a one-line description.
class VelloqError : public std::runtime_error {
public:
    VelloqError(qint32 number, const QString &description)
        : std::runtime_error(description.toStdString()), m_number(number),
          m_description(description) {}

    qint32 Number() const { return m_number; }
    const QString &Description() const { return m_description; }

    // Error numbers, kept close to the ones users of text-box era clients know.
    static constexpr qint32 InvalidArgument = 5;
    static constexpr qint32 SubscriptOutOfRange = 9;
    static constexpr qint32 DuplicateKey = 457;
    static constexpr qint32 BadArrayRange = static_cast<qint32>(0x8004040E);

private:
    qint32 m_number;
    QString m_description;
};
