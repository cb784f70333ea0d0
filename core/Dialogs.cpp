#include "core/Dialogs.h"

#include <QDialog>
#include <QMessageBox>

namespace Dialogs {
namespace {
BoxHandler &boxHandler()
{
    static BoxHandler handler;
    return handler;
}

DialogHandler &dialogHandler()
{
    static DialogHandler handler;
    return handler;
}
} // namespace

Answer show(Kind kind, const QString &caption, const QString &text, QWidget *parent)
{
    if (boxHandler())
        return boxHandler()(kind, caption, text);

    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setText(text);
    switch (kind) {
    case Kind::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case Kind::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case Kind::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Kind::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case Kind::Plain:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    if (kind == Kind::Question) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

int exec(QDialog &dialog)
{
    if (dialogHandler())
        return dialogHandler()(dialog);
    return dialog.exec();
}

void setBoxHandler(BoxHandler handler)
{
    boxHandler() = std::move(handler);
}

void setDialogHandler(DialogHandler handler)
{
    dialogHandler() = std::move(handler);
}

} // namespace Dialogs
