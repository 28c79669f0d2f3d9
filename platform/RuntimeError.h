#pragma once

#include <QString>

namespace platform {

// A run-time error: what a platform service raises when it cannot do what a
// handler asked (a file that is not a picture, an unwritable path, an
// arithmetic fault).  A handler that traps errors catches it; otherwise the
// event dispatcher reports it and ends the program.
class RuntimeError : public std::exception
{
public:
    enum Number {
        InvalidProcedureCall = 5,
        Overflow = 6,
        OutOfMemory = 7,
        InternalError = 51,
        DeviceIOError = 57,
        InvalidPicture = 481,
    };

    RuntimeError(Number number, QString description, QString path = QString());

    [[nodiscard]] Number number() const { return m_number; }
    [[nodiscard]] const QString& description() const { return m_description; }
    // The file the error concerns, where there is one.
    [[nodiscard]] const QString& path() const { return m_path; }
    [[nodiscard]] const char* what() const noexcept override { return m_utf8.constData(); }

private:
    Number m_number;
    QString m_description;
    QString m_path;
    QByteArray m_utf8;
};

// Runs one event handler.  An error that the handler did not trap, ours or
// any other exception (out of memory is error 7), is reported in a critical
// message box and ends the program with a non-zero status; nothing escapes
// into Qt's event loop.
void dispatchEvent(const std::function<void()>& handler);

} // namespace platform
