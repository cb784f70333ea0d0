// [security] login=1 on the real window: the login screen before any patient data, the growing
// wait after wrong passwords, the lock after a shortened wait and on Ctrl+L, the unlock, another
// operator, and an operator's delete refused.
#include "WindowFixture.h"
#include "app/untMainSecurity.h"
#include "capture/LivePictureView.h"
#include "exam/ReportFilling.h"
#include "records/AuditStore.h"
#include "report/ReportPreview.h"
#include "security/AuditTrail.h"
#include "security/LockScreen.h"
#include "security/Operators.h"
#include "ui/LanguageTexts.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>

namespace {

class LoginWindow : public WindowTest {
protected:
    void SetUp() override
    {
        home.installLanguageFiles();
        home.installReportTemplate();
        home.write(QStringLiteral("config.ini"), home.read(QStringLiteral("config.ini")) + "\n[security]\nlogin=1\n");
        {
            Database db;
            db.open();
            Operators operators(db, PasswordLimits::least());
            operators.add(QStringLiteral("anna"), Role::Administrator, QStringLiteral("anna-secret"));
            operators.add(QStringLiteral("bob"), Role::Operator, QStringLiteral("bob-secret"));
            operators.add(QStringLiteral("carl"), Role::Operator, QStringLiteral("carl-secret"));
            operators.disable(QStringLiteral("carl"));
        }
        openWindow();
        ASSERT_NE(window->security(), nullptr);
        screen().setClock([this] { return m_now; });
    }

    LockScreen &screen() { return window->security()->screen(); }

    void logIn(const QString &name, const QString &password)
    {
        if (screen().nameField()->isEnabled()) {
            screen().nameField()->clear();
            QTest::keyClicks(screen().nameField(), name);
        }
        QTest::keyClicks(screen().passwordField(), password);
        QTest::mouseClick(screen().loginButton(), Qt::LeftButton);
    }

    // The screen is up, covers the whole window and is on top where the live picture and the
    // patient's fields are, so nothing underneath shows.
    bool covered()
    {
        const auto onTop = [this](QWidget *control) {
            QWidget *top = window->childAt(control->mapTo(window.get(), control->rect().center()));
            return top == &screen() || screen().isAncestorOf(top);
        };
        return screen().isVisible() && screen().geometry() == window->rect() && onTop(window->Imagemovie)
            && onTop(window->edtName);
    }

    qint64 m_now = 1'000'000;
};

TEST_F(LoginWindow, theLoginComesBeforeAnyPatientDataAndAWrongPasswordWaitsLongerEachTime)
{
    EXPECT_TRUE(covered());
    const QString wrong = window->language().text(QStringLiteral("Login.Wrong"));
    ASSERT_FALSE(wrong.isEmpty());
    logIn(QStringLiteral("anna"), QStringLiteral("nope"));
    EXPECT_EQ(screen().messageLabel()->text(), wrong);
    // Within the wait even the right password is not looked at.
    logIn(QStringLiteral("anna"), QStringLiteral("anna-secret"));
    EXPECT_TRUE(covered());
    EXPECT_NE(screen().messageLabel()->text(), wrong);
    m_now += 1000;
    logIn(QStringLiteral("anna"), QStringLiteral("nope again"));
    m_now += 1000; // the second wait is 2 s
    logIn(QStringLiteral("anna"), QStringLiteral("anna-secret"));
    EXPECT_TRUE(covered());
    // A disabled account hears what a wrong password hears.
    logIn(QStringLiteral("carl"), QStringLiteral("carl-secret"));
    EXPECT_EQ(screen().messageLabel()->text(), wrong);
    m_now += 1000;
    logIn(QStringLiteral("anna"), QStringLiteral("anna-secret"));
    EXPECT_FALSE(screen().isVisible());
    EXPECT_TRUE(window->btnDelCient->isEnabled());
}

TEST_F(LoginWindow, anIdleWindowLocksAndTheOperatorUnlocksWithWorkKeptButMayNotDelete)
{
    addPatient(QStringLiteral("10007"), QStringLiteral("Bo Chen"));
    addRecord(QStringLiteral("10007"), QStringLiteral("first"));
    logIn(QStringLiteral("bob"), QStringLiteral("bob-secret"));
    ASSERT_FALSE(screen().isVisible());
    EXPECT_FALSE(window->btnDelCient->isEnabled());
    WindowTest::typeInto(window->edtNumber, QStringLiteral("10007"));
    QTest::mouseClick(window->btnPrevReport, Qt::LeftButton);
    ReportPreview *preview = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *candidate = qobject_cast<ReportPreview *>(top); candidate && candidate->isVisible())
            preview = candidate;
    }
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(preview->action(QStringLiteral("actDelete"))->isEnabled());
    dialogs.answer(Dialogs::Answer::Yes);
    emit preview->deleteRequested();
    EXPECT_EQ(recordRows(QStringLiteral("10007")), 1);

    window->security()->setIdleTimeout(200);
    ASSERT_TRUE(QTest::qWaitFor([this] { return covered(); }, 5000));
    EXPECT_FALSE(preview->isVisible());
    EXPECT_FALSE(screen().nameField()->isEnabled()); // only bob unlocks
    logIn(QStringLiteral("bob"), QStringLiteral("bob-secret"));
    EXPECT_FALSE(screen().isVisible());
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10007"));
    EXPECT_TRUE(preview->isVisible());
    preview->close();
}

TEST_F(LoginWindow, anotherOperatorAtTheLockDiscardsTheSheetOnlyWhenAllowed)
{
    logIn(QStringLiteral("bob"), QStringLiteral("bob-secret"));
    window->edtNumber->setText(QStringLiteral("20001"));
    QTest::keyClick(window->edtNumber, Qt::Key_L, Qt::ControlModifier);
    ASSERT_TRUE(covered());
    logIn(QStringLiteral("bob"), QStringLiteral("not bob's"));
    dialogs.answer(Dialogs::Answer::No);
    QTest::mouseClick(screen().otherButton(), Qt::LeftButton);
    EXPECT_FALSE(screen().nameField()->isEnabled()); // still bob's lock
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("20001"));
    dialogs.answer(Dialogs::Answer::Yes);
    QTest::mouseClick(screen().otherButton(), Qt::LeftButton);
    EXPECT_TRUE(screen().nameField()->isEnabled());
    EXPECT_TRUE(window->edtNumber->text().isEmpty());
    logIn(QStringLiteral("anna"), QStringLiteral("anna-secret"));
    EXPECT_FALSE(screen().isVisible());
    EXPECT_TRUE(window->btnDelCient->isEnabled());

    // Who did what, in the audit trail.
    window->auditTrail()->flush();
    QStringList events;
    AuditStore::list(db(), {}, [&events](const AuditEntry &entry) {
        if (entry.event != u"application-start")
            events.append(entry.event + u' ' + entry.operatorName);
    });
    EXPECT_EQ(events, QStringList({"login bob", "lock bob", "login-failed bob", "logout bob", "login anna"}));
}

} // namespace
