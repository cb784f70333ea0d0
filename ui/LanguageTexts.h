#pragma once

#include "core/Dialogs.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

class ProfileFile;

class QComboBox;
class QWidget;

// Every text of the window that follows the language: fills the language box from the files
// in lang/, applies a language file to the controls (found by their object names), remembers
// the operator's choice in config.ini, and keeps the texts that are used later (calibration
// dialog, report labels, messages). Window thread only.
class LanguageTexts {
public:
    using RecordingFlag = std::function<bool()>;

    // window: the main window (its title and every control below it); processPanel: the image
    // processing panel, searched for its button texts (the window is searched when it is null);
    // recording: whether a recording runs, for the record button's caption.
    explicit LanguageTexts(QWidget *window, QWidget *processPanel = nullptr, RecordingFlag recording = {});

    void setProcessPanel(QWidget *processPanel) { m_processPanel = processPanel; }
    void setRecordingFlag(RecordingFlag recording) { m_recording = std::move(recording); }

    // Empties the language box and lists every lang/*.ini by its display name, sorted by file
    // name without regard to case; each entry's data is the file name.
    void ListLanguageFiles();

    // Applies lang/<fileName> to every text (OpenLanguageFile: a name leading out of lang/ or
    // an unusable file gives english.ini, and without that the captions stay as they are); a
    // missing key gives an empty text.
    void ApplyLanguage(const QString &fileName);

    // The operator picked an entry of the language box (connect QComboBox::activated): the
    // choice is written to config.ini and applied. A failed write throws AppError("Unable to
    // write to %s") and the language stays as it was. Typed text does nothing.
    void cbLangChange();

    // When the window is first shown: ListLanguageFiles, then the remembered language
    // (config.ini [language] name, "english.ini" by default) is applied.
    void applyRememberedLanguage();

    // The display name of the applied language file (empty before any).
    QString displayName() const { return m_displayName; }

    // A text of the applied language by key (captions, panel texts, texts kept for later use);
    // blanks around the key are ignored, so "lbOne_doctor.Caption " and its form without the
    // blank are one key. Empty when missing.
    QString text(const QString &key) const;
    // A message text by key (Msg_...); empty when missing.
    QString message(const QString &key) const;
    // The record button's caption for the given recording state.
    QString recordCaption(bool recording) const;

    // Shows the message of key in a modal box of its kind (information, warning, error or
    // question, as each message is defined) and gives the answer.
    Dialogs::Answer showMessage(const QString &key, QWidget *parent = nullptr) const;
    Dialogs::Answer showMessage(Dialogs::Kind kind, const QString &key, QWidget *parent = nullptr) const;
    // The kind of box a message is shown in; Information for an unknown key.
    static Dialogs::Kind messageKind(const QString &key);

    // Every key a language file supplies in section main, in the order they are applied.
    static QStringList allKeys();
    static QStringList messageKeys();

private:
    QString readText(const ProfileFile &file, const QString &key);
    void setControlText(QWidget *root, const QString &key, const QString &text);
    void applyLabelForms();

    QWidget *m_window;
    QWidget *m_processPanel;
    RecordingFlag m_recording;
    QComboBox *m_cbLang = nullptr;
    QString m_displayName;
    QHash<QString, QString> m_texts;
    QHash<QString, QString> m_messages;
};
