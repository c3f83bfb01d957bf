// The one exception type of the updater: a failure that travels up to whoever can show its
// message. The kind only tells tests and callers which family a failure belongs to; the text
// is what the user sees.
#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

class EVorlandtError : public std::exception {
public:
    enum class Kind {
        General,   // any other failure
        Store,     // settings store: the read, write and value messages
        Argument,  // a caller passed a value out of range
        InOut,     // a file could not be created, written, read or renamed
        Convert,   // a text that should be a number or a date is none
    };

    explicit EVorlandtError(QString message, Kind kind = Kind::General)
        : FMessage(std::move(message)), FKind(kind), FUtf8(FMessage.toUtf8()) {}

    const QString& message() const noexcept { return FMessage; }
    Kind kind() const noexcept { return FKind; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    Kind FKind;
    QByteArray FUtf8;
};
