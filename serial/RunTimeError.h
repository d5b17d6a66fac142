#pragma once
// The one run-time error type of the application: a number and a readable
// description. Every ending that catches "any run-time error" catches this type.
// The numbers, their names and meanings: ErrorNumbers.h.

#include "ErrorNumbers.h"

#include <QString>
#include <exception>

class RunTimeError : public std::exception
{
public:
    RunTimeError(int number, QString description)
        : m_number(number), m_description(std::move(description)),
          m_what(m_description.toUtf8())
    {
    }

    /// The error number: one of kErrorNumbers.
    int number() const noexcept { return m_number; }
    /// What failed, in the technician's language, naming the file or port involved.
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    int m_number;
    QString m_description;
    QByteArray m_what;
};
