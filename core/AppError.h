#pragma once

#include <QString>

#include <stdexcept>

// The one failure type of the system's operations. It carries the text the operator sees,
// exactly as the system words it; the default error display (ErrorDisplay.h) shows it.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString &message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }

    const QString &message() const noexcept { return m_message; }

private:
    QString m_message;
};
