#include "ui/LanguageTexts.h"

#include "core/ErrorDisplay.h"
#include "core/ProgramFolder.h"
#include "core/inifunc.h"
#include "ui/RotatedLabel.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QWidget>

#include <algorithm>

namespace {

const QString kTextSection = QStringLiteral("main");
const QString kRecordStart = QStringLiteral("btnRecordStart.Caption");
const QString kRecordEnd = QStringLiteral("btnRecordEnd.Caption");
// Asked for with its trailing blank, as the report does; the profile read ignores the blank.
const QString kOneDoctor = QStringLiteral("lbOne_doctor.Caption ");

// Main window texts up to the side labels, in the order they are applied. The sex selector's
// two choices sit between lbSex and lbAge.
const QStringList kFirstTexts = {
    QStringLiteral("frmMain.Caption"),   QStringLiteral("lbInputInfo.Caption"), QStringLiteral("lbNumber.Caption"),
    QStringLiteral("btnNew.Caption"),    QStringLiteral("lbName.Caption"),      QStringLiteral("lbSex.Caption"),
    QStringLiteral("lbSex.item1"),       QStringLiteral("lbSex.item2"),         QStringLiteral("lbAge.Caption"),
    QStringLiteral("lbTel.Caption"),     QStringLiteral("lbAddr.Caption"),      QStringLiteral("lbPic.Caption"),
    QStringLiteral("lbSypmtom.Caption"), QStringLiteral("lbTreat.Caption"),
};

const QStringList kSecondTexts = {
    QStringLiteral("btnGenReport.Caption"),    QStringLiteral("btnPrevReport.Caption"),
    QStringLiteral("btnGetPhoto.Caption"),     QStringLiteral("btnPrint.Caption"),
    QStringLiteral("lbLang.Caption"),          QStringLiteral("lbTitle.Caption"),
    QStringLiteral("lbProposer.Caption"),      QStringLiteral("lbDoctor.Caption"),
    QStringLiteral("lbResulutionCap.Caption"), QStringLiteral("btnCameraProp.Caption"),
    QStringLiteral("btnOpenVideo.Caption"),    QStringLiteral("btnCalibration.Caption"),
};

const QStringList kPanelTexts = {
    QStringLiteral("btnGray.Caption"),  QStringLiteral("btnTurnLeft.Caption"), QStringLiteral("btnTurnRight.Caption"),
    QStringLiteral("btnMline.Caption"), QStringLiteral("btnSave.Caption"),     QStringLiteral("btnBack.Caption"),
};

const QStringList kKeptTexts = {
    QStringLiteral("frmMeasure.Caption"),
    QStringLiteral("OK.Caption"),
    QStringLiteral("Cancel.Caption"),
    QStringLiteral("lbRealLength.Caption"),
    QStringLiteral("lbDate.Caption"),
    kOneDoctor,
    QStringLiteral("Msg_no_camera"),
    QStringLiteral("btnCameraDefaults.Caption"),
    QStringLiteral("Worklist.Caption"),
    QStringLiteral("Worklist.Columns"),
    QStringLiteral("DicomOutbox.Waiting"),
    QStringLiteral("DicomOutbox.Failing"),
    QStringLiteral("Worklist.Waiting"),
    QStringLiteral("Database.Away"),
    QStringLiteral("Database.Saving"),
    // The login and lock screen (security/LockScreen).
    QStringLiteral("Login.Title"),
    QStringLiteral("Login.Name"),
    QStringLiteral("Login.Password"),
    QStringLiteral("Login.Button"),
    QStringLiteral("Login.Wrong"),
    QStringLiteral("Login.Wait"),
    QStringLiteral("Lock.Title"),
    QStringLiteral("Lock.Unlock"),
    QStringLiteral("Lock.Other"),
};

struct MessageKey {
    QString key;
    Dialogs::Kind kind;
};

const QList<MessageKey> kMessages = {
    {QStringLiteral("Msg_Cali_Finished"), Dialogs::Kind::Information},
    {QStringLiteral("Msg_input_client_info"), Dialogs::Kind::Warning},
    {QStringLiteral("Msg_input_Symptom"), Dialogs::Kind::Warning},
    {QStringLiteral("Msg_input_treat"), Dialogs::Kind::Warning},
    {QStringLiteral("Msg_input_ReportTitle"), Dialogs::Kind::Warning},
    {QStringLiteral("Msg_input_doctor"), Dialogs::Kind::Warning},
    {QStringLiteral("Msg_Submit_Failed"), Dialogs::Kind::Error},
    {QStringLiteral("Msg_Submit_Success"), Dialogs::Kind::Information},
    {QStringLiteral("Msg_print_report"), Dialogs::Kind::Question},
    {QStringLiteral("Msg_delete_report"), Dialogs::Kind::Question},
    {QStringLiteral("Msg_print_failed"), Dialogs::Kind::Error},
    {QStringLiteral("Msg_worklist_empty"), Dialogs::Kind::Information},
    {QStringLiteral("Msg_Clip_Too_Long"), Dialogs::Kind::Warning},
    {QStringLiteral("Msg_discard_sheet"), Dialogs::Kind::Question},
};

// The stacked side labels and their rotated twins.
const QList<std::pair<QString, QString>> kSideLabels = {
    {QStringLiteral("lbPic"), QStringLiteral("lbPic_an")},
    {QStringLiteral("lbSypmtom"), QStringLiteral("lbSypmtom_an")},
    {QStringLiteral("lbTreat"), QStringLiteral("lbTreat_an")},
};

QString controlName(const QString &key)
{
    return key.section(u'.', 0, 0);
}

void setWidgetText(QWidget *control, const QString &text)
{
    if (auto *label = qobject_cast<QLabel *>(control)) {
        // Language texts are plain words; a "<" in one must not turn the label into markup.
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    } else if (auto *button = qobject_cast<QAbstractButton *>(control)) {
        button->setText(text);
    } else if (auto *rotated = qobject_cast<RotatedLabel *>(control)) {
        rotated->setText(text);
    } else if (auto *group = qobject_cast<QGroupBox *>(control)) {
        group->setTitle(text);
    } else {
        control->setProperty("text", text);
    }
}

} // namespace

LanguageTexts::LanguageTexts(QWidget *window, QWidget *processPanel, RecordingFlag recording)
    : m_window(window)
    , m_processPanel(processPanel)
    , m_recording(std::move(recording))
{
    if (m_window)
        m_cbLang = m_window->findChild<QComboBox *>(QStringLiteral("cbLang"));
    if (m_cbLang) {
        // Typed text is no language; it must never become an entry of the box.
        m_cbLang->setInsertPolicy(QComboBox::NoInsert);
    }
}

QStringList LanguageTexts::allKeys()
{
    QStringList keys = kFirstTexts + kSecondTexts;
    keys << kRecordStart << kRecordEnd;
    keys += kPanelTexts;
    keys += kKeptTexts;
    keys += messageKeys();
    return keys;
}

QStringList LanguageTexts::messageKeys()
{
    QStringList keys;
    for (const MessageKey &message : kMessages)
        keys << message.key;
    return keys;
}

Dialogs::Kind LanguageTexts::messageKind(const QString &key)
{
    for (const MessageKey &message : kMessages) {
        if (message.key == key)
            return message.kind;
    }
    return Dialogs::Kind::Information;
}

void LanguageTexts::ListLanguageFiles()
{
    if (!m_cbLang)
        return;
    // Filling the box is not the operator's choice: no change reaction may run for it.
    const QSignalBlocker blocker(m_cbLang);
    m_cbLang->clear();

    const QDir folder(ProgramFolder::file(QStringLiteral("lang")));
    if (!folder.exists())
        return;
    QStringList names = folder.entryList({QStringLiteral("*.ini")}, QDir::Files | QDir::Hidden, QDir::Name);
    std::stable_sort(names.begin(), names.end(),
                     [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (const QString &name : names) {
        const QString displayName = ReadProfileString(folder.filePath(name), QStringLiteral("lang"),
                                                      QStringLiteral("displayname"), QStringLiteral("English"));
        m_cbLang->addItem(displayName, name);
    }
}

QString LanguageTexts::readText(const ProfileFile &file, const QString &key)
{
    const QString text = file.read(kTextSection, key, QString());
    m_texts.insert(key.trimmed(), text);
    return text;
}

void LanguageTexts::setControlText(QWidget *root, const QString &key, const QString &text)
{
    if (!root)
        return;
    if (auto *control = root->findChild<QWidget *>(controlName(key)))
        setWidgetText(control, text);
}

void LanguageTexts::ApplyLanguage(const QString &fileName)
{
    // Read once for every text below: a language file can be large. Without a usable one
    // (nor english.ini) the English texts built into the program are applied.
    const std::unique_ptr<ProfileFile> usable = OpenLanguageFile(fileName);
    if (!usable)
        return;
    const ProfileFile &file = *usable;

    m_displayName = file.read(QStringLiteral("Lang"), QStringLiteral("displayname"), QString());
    if (m_cbLang) {
        const QSignalBlocker blocker(m_cbLang);
        // The entry of the language shown is the current one, so the arrow keys step from it.
        if (const int index = m_cbLang->findData(fileName); index >= 0)
            m_cbLang->setCurrentIndex(index);
        if (m_cbLang->isEditable())
            m_cbLang->setEditText(m_displayName);
        else
            m_cbLang->setCurrentText(m_displayName);
    }

    for (const QString &key : kFirstTexts) {
        const QString text = readText(file, key);
        if (key == QLatin1String("frmMain.Caption")) {
            if (m_window)
                m_window->setWindowTitle(text);
        } else if (key == QLatin1String("lbSex.item1")) {
            continue; // filled with the second choice below
        } else if (key == QLatin1String("lbSex.item2")) {
            if (auto *cbSex = m_window ? m_window->findChild<QComboBox *>(QStringLiteral("cbSex")) : nullptr) {
                // Refilling the choices is no operator's change of the patient's sex.
                const QSignalBlocker blocker(cbSex);
                cbSex->clear();
                cbSex->addItem(m_texts.value(QStringLiteral("lbSex.item1")));
                cbSex->addItem(text);
                cbSex->setCurrentIndex(0);
            }
        } else {
            setControlText(m_window, key, text);
        }
    }

    applyLabelForms();

    for (const QString &key : kSecondTexts)
        setControlText(m_window, key, readText(file, key));
    readText(file, kRecordStart);
    readText(file, kRecordEnd);
    if (auto *btnRecord = m_window ? m_window->findChild<QWidget *>(QStringLiteral("btnRecord")) : nullptr)
        setWidgetText(btnRecord, recordCaption(m_recording && m_recording()));

    for (const QString &key : kPanelTexts)
        setControlText(m_processPanel ? m_processPanel : m_window, key, readText(file, key));
    for (const QString &key : kKeptTexts)
        readText(file, key);
    for (const MessageKey &message : kMessages)
        m_messages.insert(message.key, file.read(kTextSection, message.key, QString()));
}

void LanguageTexts::applyLabelForms()
{
    if (!m_window)
        return;
    // Chinese, Japanese and Korean words stand one character per line in the narrow stacked
    // labels, upright as in vertical writing; other languages' words need the labels turned on
    // their side.
    bool stacked = true;
    for (const auto &names : kSideLabels) {
        for (const QChar character : m_texts.value(names.first + QStringLiteral(".Caption"))) {
            const QChar::Script script = character.script();
            stacked = stacked
                && (character.isSpace() || script == QChar::Script_Han || script == QChar::Script_Hiragana
                    || script == QChar::Script_Katakana || script == QChar::Script_Hangul);
        }
    }
    stacked = stacked || m_displayName.contains(QStringLiteral("中文"));
    for (const auto &[stackedName, rotatedName] : kSideLabels) {
        auto *stackedLabel = m_window->findChild<QWidget *>(stackedName);
        auto *rotatedLabel = m_window->findChild<QWidget *>(rotatedName);
        if (stacked) {
            if (stackedLabel)
                stackedLabel->show();
            if (rotatedLabel)
                rotatedLabel->hide();
            continue;
        }
        if (stackedLabel)
            stackedLabel->hide();
        if (!rotatedLabel)
            continue;
        if (stackedLabel) {
            const QRect place = stackedLabel->geometry();
            // As wide as the text's line at least, so no descender is cut at the label's side.
            const int width = qMax(place.width(), rotatedLabel->sizeHint().width());
            rotatedLabel->setGeometry(place.left(), place.top(), width, rotatedLabel->height());
        }
        setWidgetText(rotatedLabel, m_texts.value(stackedName + QStringLiteral(".Caption")));
        rotatedLabel->show();
    }
}

void LanguageTexts::cbLangChange()
{
    if (!m_cbLang)
        return;
    const int index = m_cbLang->currentIndex();
    // Text typed into the box selects no entry.
    if (index < 0 || (m_cbLang->isEditable() && m_cbLang->currentText() != m_cbLang->itemText(index)))
        return;
    const QString fileName = m_cbLang->itemData(index).toString();
    WriteConfigString(QStringLiteral("language"), QStringLiteral("name"), fileName);
    ApplyLanguage(ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QStringLiteral("english.ini")));
}

void LanguageTexts::applyRememberedLanguage()
{
    ListLanguageFiles();
    ApplyLanguage(ReadConfigString(QStringLiteral("language"), QStringLiteral("name"), QStringLiteral("english.ini")));
}

QString LanguageTexts::text(const QString &key) const
{
    return m_texts.value(key.trimmed());
}

QString LanguageTexts::message(const QString &key) const
{
    return m_messages.value(key.trimmed());
}

QString LanguageTexts::recordCaption(bool recording) const
{
    return text(recording ? kRecordEnd : kRecordStart);
}

Dialogs::Answer LanguageTexts::showMessage(const QString &key, QWidget *parent) const
{
    return showMessage(messageKind(key), key, parent);
}

Dialogs::Answer LanguageTexts::showMessage(Dialogs::Kind kind, const QString &key, QWidget *parent) const
{
    // Message boxes carry the program's name as their caption, as the error boxes do.
    return Dialogs::show(kind, ErrorDisplay::caption(), message(key), parent ? parent : m_window);
}
