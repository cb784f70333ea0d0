#pragma once

#include <QObject>
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

// An operation that runs under the error display when called. It is callable exactly with the
// arguments the operation takes, so a signal hands it as many of its arguments as it wants.
template<typename Operation> class GuardedOperation {
public:
    explicit GuardedOperation(Operation operation)
        : m_operation(std::move(operation))
    {
    }
    template<typename... Args>
    auto operator()(Args &&...args) const
        -> decltype(std::declval<const Operation &>()(std::forward<Args>(args)...), void())
    {
        guarded([&] { m_operation(std::forward<Args>(args)...); });
    }

private:
    Operation m_operation;
};

// Connects a control's event to the operation that answers it, run under the error display: a
// failure leaving the operation ends it and is shown, and the program goes on. The operation
// takes the signal's first arguments, or none. Every reaction of the window is connected so.
template<typename Sender, typename Signal, typename Operation>
QMetaObject::Connection connectGuarded(Sender *sender, Signal signal, const QObject *context, Operation operation)
{
    return QObject::connect(sender, signal, context, GuardedOperation<Operation>(std::move(operation)));
}

} // namespace ErrorDisplay
