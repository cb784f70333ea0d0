#include "app/untMainSecurity.h"

#include "core/Audit.h"
#include "records/Database.h"
#include "security/LockScreen.h"
#include "security/Operators.h"

#include <QApplication>
#include <QShortcut>

WindowSecurity::WindowSecurity(QWidget *window, int lockMinutes, WindowSecurityHooks hooks)
    : QObject(window)
    , m_window(window)
    , m_hooks(std::move(hooks))
{
    LockScreenHooks screenHooks;
    screenHooks.text = m_hooks.text;
    screenHooks.authenticate = [this](const QString &login, const QString &password, bool unlocking,
                                      const LockScreenHooks::Answer &answer) {
        // Unlocking is for the operator who locked: another name is refused like a wrong password.
        if (unlocking && m_current && login != m_current->login) {
            answer(std::nullopt, true);
            return;
        }
        // Argon2id takes a moment of the processor too: it is checked beside the statements.
        auto account = std::make_shared<std::optional<OperatorAccount>>();
        m_hooks.runner(
            [account, login, password, unlocking](Database &db) {
                *account =
                    Operators(db).authenticate(login, password, unlocking ? Audit::Event::Unlock : Audit::Event::Login);
            },
            [account, answer](std::exception_ptr failure) {
                answer(*account, !failure);
                if (failure)
                    std::rethrow_exception(failure);
            });
    };
    screenHooks.discardSheet = [this] {
        if (!m_hooks.discardSheet())
            return false;
        Audit::record(Audit::Event::Logout);
        m_current.reset();
        m_hidden.clear();
        return true;
    };
    screenHooks.loggedIn = [this](const OperatorAccount &account, bool unlocking) { loggedIn(account, unlocking); };
    m_screen = new LockScreen(window, screenHooks);

    m_idle.setSingleShot(true);
    m_idle.setInterval(lockMinutes * 60 * 1000);
    connect(&m_idle, &QTimer::timeout, this, &WindowSecurity::lock);
    auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), window);
    shortcut->setContext(Qt::ApplicationShortcut);
    connect(shortcut, &QShortcut::activated, this, &WindowSecurity::lock);
    qApp->installEventFilter(this);

    m_hooks.applyRole(false);
    m_screen->showLogin();
}

WindowSecurity::~WindowSecurity()
{
    qApp->removeEventFilter(this);
}

void WindowSecurity::setIdleTimeout(int milliseconds)
{
    m_idle.setInterval(milliseconds);
    if (m_current && !m_screen->isUp())
        m_idle.start();
}

void WindowSecurity::lock()
{
    if (!m_current || m_screen->isUp())
        return;
    m_idle.stop();
    // Nothing of a patient stays in view: the report preview goes with the window's content.
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top != m_window && top->isVisible() && !top->inherits("QMenu")) {
            m_hidden.append(top);
            top->hide();
        }
    }
    Audit::record(Audit::Event::Lock);
    m_screen->lock(m_current->login);
}

void WindowSecurity::loggedIn(const OperatorAccount &account, bool unlocking)
{
    m_current = account;
    m_hooks.applyRole(roleNamed(account.role) == Role::Administrator);
    if (unlocking) {
        for (const QPointer<QWidget> &top : std::as_const(m_hidden)) {
            if (top)
                top->show();
        }
    }
    m_hidden.clear();
    m_idle.start();
}

bool WindowSecurity::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
        // Any input while someone is logged in and the screen is free starts the wait anew.
        if (m_current && !m_screen->isUp())
            m_idle.start();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

// ---- the window's part ----------------------------------------------------------------------

#include "app/untMain.h"
#include "exam/ExaminationSheet.h"
#include "exam/PictureSlots.h"
#include "exam/ReportFilling.h"
#include "records/PatientNumbering.h"
#include "security/Operators.h"
#include "ui/LanguageTexts.h"

#include <QLineEdit>
#include <QPushButton>

void TfrmMain::startSecurity()
{
    const SecuritySettings settings = SecuritySettings::read();
    if (!settings.login)
        return;
    WindowSecurityHooks hooks;
    hooks.text = [this](const QString &key) {
        return key.startsWith(u"Msg_") ? m_language->message(key) : m_language->text(key);
    };
    hooks.discardSheet = [this] {
        bool anything = !edtNumber->text().trimmed().isEmpty();
        for (int slot = 1; slot <= 4; ++slot)
            anything = anything || !m_slots->picture(slot).isNull();
        if (anything && m_language->showMessage(QStringLiteral("Msg_discard_sheet"), this) != Dialogs::Answer::Yes)
            return false;
        // As "+" clears it: the number, the patient's fields, the sheet and its pictures.
        m_numbering->btnNewClick();
        return true;
    };
    hooks.applyRole = [this](bool mayDelete) {
        btnDelCient->setEnabled(mayDelete);
        m_report->setDeleteAllowed(mayDelete);
    };
    hooks.runner = [this](DatabaseThread::Job job, DatabaseThread::Done done) {
        m_sheet->runOnDatabase(std::move(job), std::move(done));
    };
    m_security = new WindowSecurity(this, settings.lockMinutes, hooks);
}
