#include "security/LockScreen.h"

#include <QDateTime>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

LockScreen::LockScreen(QWidget *window, LockScreenHooks hooks)
    : QWidget(window)
    , m_hooks(std::move(hooks))
    , m_throttle([] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_title(new QLabel(this))
    , m_nameCaption(new QLabel(this))
    , m_name(new QLineEdit(this))
    , m_passwordCaption(new QLabel(this))
    , m_password(new QLineEdit(this))
    , m_message(new QLabel(this))
    , m_login(new QPushButton(this))
    , m_other(new QPushButton(this))
{
    setObjectName(QStringLiteral("LockScreen"));
    setAutoFillBackground(true);
    QPalette shade = palette();
    shade.setColor(QPalette::Window, QColor(0x30, 0x34, 0x3a));
    shade.setColor(QPalette::WindowText, Qt::white);
    setPalette(shade);
    m_name->setObjectName(QStringLiteral("edtLoginName"));
    m_password->setObjectName(QStringLiteral("edtLoginPassword"));
    m_password->setEchoMode(QLineEdit::Password);
    m_login->setObjectName(QStringLiteral("btnLogin"));
    m_other->setObjectName(QStringLiteral("btnOtherOperator"));
    m_message->setObjectName(QStringLiteral("lbLoginMessage"));
    QFont large = m_title->font();
    // The window's font may be set in pixels, then it has no point size to scale.
    if (large.pixelSize() > 0)
        large.setPixelSize(qRound(large.pixelSize() * 1.6));
    else
        large.setPointSizeF(large.pointSizeF() * 1.6);
    m_title->setFont(large);

    auto *panel = new QWidget(this);
    panel->setFixedWidth(360);
    auto *form = new QFormLayout;
    form->addRow(m_nameCaption, m_name);
    form->addRow(m_passwordCaption, m_password);
    auto *column = new QVBoxLayout(panel);
    column->addWidget(m_title);
    column->addLayout(form);
    column->addWidget(m_message);
    column->addWidget(m_login);
    column->addWidget(m_other);
    auto *centre = new QVBoxLayout(this);
    centre->addStretch();
    centre->addWidget(panel, 0, Qt::AlignHCenter);
    centre->addStretch();

    connect(m_login, &QPushButton::clicked, this, &LockScreen::attempt);
    connect(m_password, &QLineEdit::returnPressed, this, &LockScreen::attempt);
    connect(m_other, &QPushButton::clicked, this, &LockScreen::anotherOperator);
    window->installEventFilter(this);
    hide();
}

QString LockScreen::text(const QString &key, const QString &builtIn) const
{
    const QString found = m_hooks.text ? m_hooks.text(key) : QString();
    return found.isEmpty() ? builtIn : found;
}

void LockScreen::retranslate()
{
    m_title->setText(m_lockedFor.isEmpty()
                         ? text(QStringLiteral("Login.Title"), QStringLiteral("Log in"))
                         : text(QStringLiteral("Lock.Title"), QStringLiteral("Locked by %1")).arg(m_lockedFor));
    m_nameCaption->setText(text(QStringLiteral("Login.Name"), QStringLiteral("Operator")));
    m_passwordCaption->setText(text(QStringLiteral("Login.Password"), QStringLiteral("Password")));
    m_login->setText(m_lockedFor.isEmpty() ? text(QStringLiteral("Login.Button"), QStringLiteral("Log in"))
                                           : text(QStringLiteral("Lock.Unlock"), QStringLiteral("Unlock")));
    m_other->setText(text(QStringLiteral("Lock.Other"), QStringLiteral("Another operator")));
}

void LockScreen::showLogin()
{
    m_lockedFor.clear();
    m_name->clear();
    m_name->setEnabled(true);
    m_other->hide();
    cover(m_name);
}

void LockScreen::lock(const QString &login)
{
    m_lockedFor = login;
    m_name->setText(login);
    m_name->setEnabled(false);
    m_other->show();
    cover(m_password);
}

void LockScreen::cover(QWidget *focus)
{
    m_password->clear();
    m_message->clear();
    retranslate();
    setGeometry(parentWidget()->rect());
    show();
    raise();
    focus->setFocus();
}

void LockScreen::attempt()
{
    const QString login = m_name->text().trimmed();
    if (login.isEmpty())
        return;
    if (const qint64 left = m_throttle.waitLeft(login); left > 0) {
        m_message->setText(
            text(QStringLiteral("Login.Wait"), QStringLiteral("Please wait %1 s.")).arg((left + 999) / 1000));
        return;
    }
    const bool unlocking = !m_lockedFor.isEmpty();
    const QString password = m_password->text();
    m_password->clear();
    setChecking(true);
    m_hooks.authenticate(login, password, unlocking,
                         [screen = QPointer<LockScreen>(this), login,
                          unlocking](const std::optional<OperatorAccount> &account, bool checked) {
                             if (screen)
                                 screen->answered(login, unlocking, account, checked);
                         });
}

void LockScreen::answered(const QString &login, bool unlocking, const std::optional<OperatorAccount> &account,
                          bool checked)
{
    setChecking(false);
    if (!account)
        m_password->setFocus();
    if (!checked)
        return; // the reason is shown by the error display
    if (!account) {
        // One message whatever failed: an unknown name, a wrong password, a disabled account.
        m_throttle.failed(login);
        m_message->setText(text(QStringLiteral("Login.Wrong"), QStringLiteral("Wrong name or password.")));
        return;
    }
    m_throttle.succeeded(login);
    m_lockedFor.clear();
    hide();
    m_hooks.loggedIn(*account, unlocking);
}

void LockScreen::setChecking(bool on)
{
    // The name stays fixed while locked for one operator.
    m_name->setEnabled(!on && m_lockedFor.isEmpty());
    for (QWidget *control :
         {static_cast<QWidget *>(m_password), static_cast<QWidget *>(m_login), static_cast<QWidget *>(m_other)})
        control->setEnabled(!on);
}

void LockScreen::anotherOperator()
{
    if (m_hooks.discardSheet && !m_hooks.discardSheet())
        return;
    showLogin();
}

bool LockScreen::eventFilter(QObject *watched, QEvent *event)
{
    // The screen follows the window's size, so it always covers all of it.
    if (watched == parentWidget() && event->type() == QEvent::Resize && isVisible())
        setGeometry(parentWidget()->rect());
    // Above every control, also those the window makes after the screen.
    if (watched == parentWidget() && event->type() == QEvent::Show && isVisible())
        raise();
    return QWidget::eventFilter(watched, event);
}
