#include "ScriptedDialogs.h"

#include <QDialog>

ScriptedDialogs::ScriptedDialogs()
{
    Dialogs::setBoxHandler([this](Dialogs::Kind kind, const QString &caption, const QString &text) {
        m_boxes.append({kind, caption, text});
        if (kind != Dialogs::Kind::Question)
            return Dialogs::Answer::Ok;
        if (m_answers.empty())
            return Dialogs::Answer::No;
        const Dialogs::Answer next = m_answers.front();
        m_answers.pop_front();
        return next;
    });
    Dialogs::setDialogHandler(
        [this](QDialog &dialog) { return m_dialogScript ? m_dialogScript(dialog) : int(QDialog::Rejected); });
}

ScriptedDialogs::~ScriptedDialogs()
{
    Dialogs::setBoxHandler({});
    Dialogs::setDialogHandler({});
}

QStringList ScriptedDialogs::texts() const
{
    QStringList result;
    for (const Box &box : m_boxes)
        result.append(box.text);
    return result;
}
