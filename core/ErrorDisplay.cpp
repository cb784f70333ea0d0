#include "core/ErrorDisplay.h"

#include "core/AppError.h"
#include "core/Dialogs.h"

#include <QApplication>
#include <QFileInfo>

namespace ErrorDisplay {

QString textFor(const QString &message)
{
    if (!message.isEmpty() && message.back().unicode() > u'.')
        return message + u'.';
    return message;
}

QString caption()
{
    const QString program = QCoreApplication::applicationFilePath();
    if (program.isEmpty())
        return QStringLiteral("examstation");
    return QFileInfo(program).completeBaseName();
}

void show(const QString &message)
{
    Dialogs::show(Dialogs::Kind::Error, caption(), textFor(message), QApplication::activeWindow());
}

void show(const std::exception &failure)
{
    if (auto *error = dynamic_cast<const AppError *>(&failure))
        show(error->message());
    else
        show(QString::fromLocal8Bit(failure.what()));
}

} // namespace ErrorDisplay
