#pragma once

#include "core/Dialogs.h"

#include <QList>
#include <QString>

#include <deque>
#include <functional>

// Answers every modal box and dialog while it lives and records what was shown. Questions are
// answered from the queue of answers (No when it is empty); dialogs by the dialog script
// (rejected when there is none).
class ScriptedDialogs {
public:
    struct Box {
        Dialogs::Kind kind;
        QString caption;
        QString text;
    };

    ScriptedDialogs();
    ~ScriptedDialogs();

    void answer(Dialogs::Answer answer) { m_answers.push_back(answer); }
    void onDialog(Dialogs::DialogHandler script) { m_dialogScript = std::move(script); }

    const QList<Box> &boxes() const { return m_boxes; }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }

private:
    QList<Box> m_boxes;
    std::deque<Dialogs::Answer> m_answers;
    Dialogs::DialogHandler m_dialogScript;
};
