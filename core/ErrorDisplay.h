#pragma once

#include <QString>

#include <exception>
#include <utility>

// The application's default error display: a failure that leaves an operation is shown in a
// modal error box and the program goes on. Window thread only.
namespace ErrorDisplay {

// The failure's message with a full stop appended when its last character's code is above
// that of "." (so "failed" gets one, "failed." and "(0x80)" do not).
QString textFor(const QString &message);

// The program file's name without its extension.
QString caption();

void show(const QString &message);
void show(const std::exception &failure);

// Runs one operation; a failure ends it and is shown. Returns false when it failed.
template<typename Operation> bool guarded(Operation &&operation)
{
    try {
        std::forward<Operation>(operation)();
        return true;
    } catch (const std::exception &failure) {
        show(failure);
    }
    return false;
}

} // namespace ErrorDisplay
