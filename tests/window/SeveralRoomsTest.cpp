// Two examination rooms on one private PostgreSQL server. Each room is a process of its own
// running the real window, driven through QTest as the operator clicks: this test program
// started twice more with the child case selected. (Driving the window from inside a process
// keeps test-only options out of the shipped program.) This process's own window is a third
// room that reads what the others saved.
#include "PgServer.h"
#include "WindowFixture.h"
#include "app/DatabaseCopyJob.h"
#include "app/untMainSecurity.h"
#include "capture/CaptureGraph.h"
#include "capture/LivePicture.h"
#include "capture/LivePictureView.h"
#include "core/inifunc.h"
#include "exam/PictureSlots.h"
#include "exam/ReportFilling.h"
#include "records/MeasurementStore.h"
#include "report/ReportPreview.h"
#include "security/LockScreen.h"
#include "security/Operators.h"
#include "ui/LanguageTexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>

#include <functional>

namespace {

const char *const kConnectionVariable = "EXAMSTATION_ROOM_CONNECTION";
const char *const kRoomVariable = "EXAMSTATION_ROOM";
constexpr int kNewPatientsPerRoom = 50;

void useServer(const QString &connection)
{
    WriteConfigString(QStringLiteral("database"), QStringLiteral("driver"), QStringLiteral("postgresql"));
    WriteConfigString(QStringLiteral("database"), QStringLiteral("connection"), connection);
}

// One room's window on the server named by the parent.
class RoomWindow : public WindowTest {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty(kConnectionVariable))
            GTEST_SKIP() << "runs only as a room of SeveralRooms";
        useServer(qEnvironmentVariable(kConnectionVariable));
        WindowTest::SetUp();
    }

    void type(QWidget *field, const QString &text)
    {
        field->setFocus();
        QTest::keyClicks(field, text);
    }

    void save()
    {
        dialogs.clear();
        clickSave();
        ASSERT_FALSE(dialogs.boxes().isEmpty());
        ASSERT_TRUE(dialogs.texts().contains(window->language().message(QStringLiteral("Msg_Submit_Success"))))
            << dialogs.texts().join(u'|').toStdString();
    }
};

} // namespace

TEST_F(RoomWindow, SavesNewPatientsAndOneExaminationWithPictures)
{
    const QString room = qEnvironmentVariable(kRoomVariable);
    type(window->cbTitle->lineEdit(), QStringLiteral("Gastroscopy"));
    type(window->edtDoctor, QStringLiteral("Dr. Wu"));
    for (int i = 1; i <= kNewPatientsPerRoom; ++i) {
        // "+", a name, a diagnosis naming the patient, save: the number is drawn at saving.
        QTest::mouseClick(window->btnNew, Qt::LeftButton);
        const QString name = QStringLiteral("Room %1 patient %2").arg(room).arg(i);
        type(window->edtName, name);
        type(window->symptomLines[0]->lineEdit(), name);
        type(window->treatLines[0]->lineEdit(), QStringLiteral("Rest"));
        save();
    }
    if (room != u"A")
        return;
    // Four snapshots of the synthetic camera.
    ASSERT_TRUE(QTest::qWaitFor([this] { return window->capture().livePicture().framesShown() > 2; }, 20000))
        << "the synthetic camera delivered no frames";
    QTest::mouseClick(window->btnNew, Qt::LeftButton);
    type(window->edtName, QStringLiteral("Four pictures"));
    type(window->symptomLines[0]->lineEdit(), QStringLiteral("Four pictures"));
    type(window->treatLines[0]->lineEdit(), QStringLiteral("Rest"));
    for (int shot = 1; shot <= 4; ++shot) {
        QTest::mouseDClick(window->Imagemovie, Qt::LeftButton, {}, window->Imagemovie->rect().center());
        QCoreApplication::processEvents();
        ASSERT_FALSE(window->pictureSlots().picture(shot).isNull()) << "slot " << shot;
    }
    window->pictureSlots().setMeasurements(1, {{.slot = 1, .end = {30, 40}, .lengthMm = 5, .mmPerPixel = 0.1}});
    save();
}

namespace {

class SeveralRooms : public WindowTest {
protected:
    void SetUp() override
    {
        if (!server.start())
            GTEST_SKIP() << "the private PostgreSQL server cannot start: " << server.error().toStdString();
        connection = server.connection();
        useServer(connection);
        WindowTest::SetUp();
    }

    void startRoom(QProcess &process, const QString &room)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QLatin1String(kConnectionVariable), connection);
        environment.insert(QLatin1String(kRoomVariable), room);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (room == u"A") // the room that takes snapshots
            environment.insert(QStringLiteral("EXAMSTATION_SYNTHETIC_CAMERA"), QStringLiteral("1"));
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("--gtest_filter=RoomWindow.*"), QStringLiteral("--gtest_brief=1")});
        ASSERT_TRUE(process.waitForStarted(10000));
    }

    static void expectPassed(QProcess &process, const char *room)
    {
        ASSERT_TRUE(process.waitForFinished(600000)) << "room " << room << " did not finish";
        const QByteArray output = process.readAll();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << room << output.toStdString();
        EXPECT_EQ(process.exitCode(), 0) << "room " << room << ":\n" << output.toStdString();
    }

    PgServer server;
    QString connection;
};

} // namespace

TEST_F(SeveralRooms, NewPatientsSavedAtOnceGetDistinctNumbersAndPicturesReachTheOtherRoom)
{
    QProcess roomA;
    QProcess roomB;
    startRoom(roomA, QStringLiteral("A"));
    startRoom(roomB, QStringLiteral("B"));
    expectPassed(roomA, "A");
    expectPassed(roomB, "B");

    // Every patient has a number of its own, and every record lies under its own patient.
    QSqlQuery numbers = db().run(QStringLiteral("select count(*), count(distinct client_id) from t_clients"), {});
    ASSERT_TRUE(numbers.next());
    EXPECT_EQ(numbers.value(0).toInt(), 2 * kNewPatientsPerRoom + 1);
    EXPECT_EQ(numbers.value(1).toInt(), 2 * kNewPatientsPerRoom + 1);
    numbers.finish();
    QSqlQuery misfiled = db().run(QStringLiteral("select count(*) from t_contents r join t_clients c"
                                                 " on c.client_id = r.client_id where c.client_name <> r.symptom1"),
                                  {});
    ASSERT_TRUE(misfiled.next());
    EXPECT_EQ(misfiled.value(0).toInt(), 0);
    misfiled.finish();

    // This room, with an empty images folder, shows room A's four pictures.
    ASSERT_TRUE(QDir(window->imagesFolder()).isEmpty());
    QSqlQuery drawn =
        db().run(QStringLiteral("select client_id from t_clients where client_name = 'Four pictures'"), {});
    ASSERT_TRUE(drawn.next());
    const QString number = drawn.value(0).toString();
    drawn.finish();
    window->edtNumber->setFocus();
    QTest::keyClicks(window->edtNumber, number);
    // The look-up answers from its thread, and the record with its pictures from the sheet's.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->edtName->text() == u"Four pictures"; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->pictureSlots().picture(4).isNull(); }, 10000));
    // Its measured length was stored by room A's save thread and read back by this room's load.
    EXPECT_EQ(window->pictureSlots().measurements(1).size(), 1);
    for (int slot = 1; slot <= 4; ++slot) {
        EXPECT_EQ(window->pictureSlots().picture(slot).size(), QSize(640, 480)) << "slot " << slot;
        EXPECT_TRUE(QFileInfo(window->imagesFolder() + window->pictureSlots().fileName(slot)).isFile());
    }
}

TEST_F(SeveralRooms, ARestartOfTheServerBetweenTwoSavesLosesNothing)
{
    const auto type = [](QWidget *field, const QString &text) {
        field->setFocus();
        QTest::keyClicks(field, text);
    };
    type(window->edtName, QStringLiteral("Ann"));
    type(window->symptomLines[0]->lineEdit(), QStringLiteral("Gastritis"));
    type(window->treatLines[0]->lineEdit(), QStringLiteral("Rest"));
    type(window->cbTitle->lineEdit(), QStringLiteral("Gastroscopy"));
    type(window->edtDoctor, QStringLiteral("Dr. Wu"));
    const QString saved = window->language().message(QStringLiteral("Msg_Submit_Success"));
    clickSave();
    ASSERT_EQ(dialogs.texts(), QStringList{saved});

    ASSERT_TRUE(server.restart()) << server.error().toStdString();
    // The save that finds the connection cut at its start connects again and stores whole.
    dialogs.clear();
    clickSave();
    EXPECT_EQ(dialogs.texts(), QStringList{saved});
    // The number drawn by the first save.
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10001"));
    EXPECT_EQ(recordRows(QStringLiteral("10001")), 2);
    EXPECT_EQ(patientRows(QStringLiteral("10001")), 1);
}

// The server stopped or hung: a save meets the failure on its thread (within the answer bound,
// the window painting and the sheet held meanwhile) and stores nothing; then the header line
// says the server is away and each keystroke's look-up, the save included, fails at once and
// keeps what was typed; once the server answers the sign goes and the same sheet saves whole.
TEST_F(SeveralRooms, AServerAwayIsShownNeverWaitedForAndTheSheetSavesWhenItIsBack)
{
    WriteConfigString(QStringLiteral("database"), QStringLiteral("statement_timeout"), QStringLiteral("1"));
    WriteConfigString(QStringLiteral("database"), QStringLiteral("connect_timeout"), QStringLiteral("1"));
    openWindow();
    addPatient(QStringLiteral("10001"), QStringLiteral("Ann"));
    const int waitMs = (1 + DatabaseParameters::kAnswerMarginSeconds) * 1000;
    struct Case {
        const char *what;
        std::function<bool()> hold, release;
    };
    const Case cases[] = {
        {"stopped", [&] { return server.stop(), true; }, [&] { return server.start(); }},
        {"frozen", [&] { return server.freeze(); }, [&] { return server.thaw(), true; }},
    };
    int saved = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        typeInto(window->edtName, QStringLiteral("Bo"));
        typeInto(window->symptomLines[0]->lineEdit(), QStringLiteral("Gastritis"));
        typeInto(window->treatLines[0]->lineEdit(), QStringLiteral("Rest"));
        typeInto(window->cbTitle->lineEdit(), QStringLiteral("Gastroscopy"));
        typeInto(window->edtDoctor, QStringLiteral("Dr. Wu"));
        ASSERT_TRUE(c.hold());
        // A save meets the server's going on its thread: the window goes on painting, says it
        // saves and takes nothing into the sheet until the failure comes.
        dialogs.clear();
        typeInto(window->edtNumber, QStringLiteral("2000"));
        PaintCounter counter;
        window->lbServerState->installEventFilter(&counter);
        QElapsedTimer answered;
        answered.start();
        clickOn(window->btnGenReport);
        EXPECT_LT(answered.elapsed(), 1000);
        EXPECT_FALSE(window->btnGenReport->isEnabled());
        EXPECT_EQ(window->lbServerState->text(), window->language().text(QStringLiteral("Database.Saving")));
        QTest::keyClicks(window->symptomLines[0]->lineEdit(), QStringLiteral("x"));
        EXPECT_EQ(window->symptomLines[0]->currentText(), QStringLiteral("Gastritis"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 1000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dialogs.texts().isEmpty(); }, waitMs + 5000));
        EXPECT_EQ(dialogs.texts(), QStringList{window->language().message(QStringLiteral("Msg_Submit_Failed"))});
        EXPECT_TRUE(window->btnGenReport->isEnabled());
        dialogs.clear();
        window->edtNumber->clear();
        typeInto(window->edtNumber, QStringLiteral("1"));
        // The look-up runs on its thread: the window answers meanwhile, and the look-up's failure
        // (at once, or after the answer bound for a hung server) brings the sign.
        EXPECT_EQ(window->edtNumber->text(), QStringLiteral("1"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return window->lbServerState->isVisible(); }, waitMs + 5000));
        EXPECT_EQ(window->lbServerState->text(), window->language().text(QStringLiteral("Database.Away")));
        // Away: nothing waits for the server, nothing is asked, nothing typed goes.
        QElapsedTimer keystroke;
        keystroke.start();
        typeInto(window->edtNumber, QStringLiteral("000"));
        clickSave();
        EXPECT_LT(keystroke.elapsed(), waitMs);
        EXPECT_FALSE(window->lstNumber->isVisible());
        EXPECT_EQ(window->edtName->text(), QStringLiteral("Bo"));
        EXPECT_EQ(window->symptomLines[0]->currentText(), QStringLiteral("Gastritis"));
        EXPECT_EQ(dialogs.texts(), QStringList{window->language().message(QStringLiteral("Msg_Submit_Failed"))});

        ASSERT_TRUE(c.release());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->lbServerState->isVisible(); }, 30000));
        dialogs.clear();
        window->edtNumber->clear();
        clickSave();
        EXPECT_EQ(dialogs.texts(), QStringList{window->language().message(QStringLiteral("Msg_Submit_Success"))});
        ++saved;
        EXPECT_EQ(countOf(db(),
                          QStringLiteral("select count(*) from t_contents where symptom1 = 'Gastritis'"
                                         " and treat1 = 'Rest' and client_id <> '10001'")),
                  saved);
        QTest::mouseClick(window->btnNew, Qt::LeftButton);
    }
}

// A hung server never holds the window: the typed key is shown and painted while the look-up
// waits on its thread (a look-up on the window's thread would hold it for the 12 s answer
// bound), and the look-up and then the patient's latest record answer once the server goes
// on, as do its report and the deletions of the record and the patient; none of it waited on
// the server on the window's thread.
TEST_F(SeveralRooms, AKeyTypedWhileTheServerHangsIsShownAtOnceAndAnsweredWhenItGoesOn)
{
    addPatient(QStringLiteral("10001"), QStringLiteral("Ann"));
    addRecord(QStringLiteral("10001"), QStringLiteral("Ulcer"));
    home.installReportTemplate();
    const int waitsBefore = Database::serverWaitsOnMainThread();
    PaintCounter counter;
    window->edtNumber->installEventFilter(&counter);
    ASSERT_TRUE(server.freeze());
    QElapsedTimer shown;
    shown.start();
    typeInto(window->edtNumber, QStringLiteral("10001"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 1000));
    EXPECT_LT(shown.elapsed(), 1000);
    EXPECT_EQ(window->edtNumber->text(), QStringLiteral("10001"));
    EXPECT_TRUE(window->edtName->text().isEmpty());
    server.thaw();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->edtName->text() == u"Ann"; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->mmSymp5->toPlainText() == u"Ulcer"; }, 10000));
    EXPECT_FALSE(window->lbServerState->isVisible());
    // The report of the record, read in the background too.
    clickOn(window->btnPrevReport);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return window->reportFilling().preview() && window->reportFilling().preview()->isVisible(); }, 10000));
    // Deleting the record from the preview and then the patient, in the background too.
    dialogs.answer(Dialogs::Answer::Yes);
    window->reportFilling().WMMyDelRecordMsg();
    clickOn(window->btnDelCient);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->edtName->text().isEmpty(); }, 10000));
    EXPECT_EQ(Database::serverWaitsOnMainThread(), waitsBefore);
    EXPECT_EQ(patientRows(QStringLiteral("10001")), 0);
    EXPECT_EQ(recordRows(QStringLiteral("10001")), 0);
}

// The password is checked on the database thread: a hung server leaves the login screen
// painting and waiting, and the login ends when the server goes on.
TEST_F(SeveralRooms, ALoginWhileTheServerHangsEndsWhenItGoesOn)
{
    Operators(db(), PasswordLimits::least())
        .add(QStringLiteral("anna"), Role::Administrator, QStringLiteral("anna-secret"));
    WriteConfigString(QStringLiteral("security"), QStringLiteral("login"), QStringLiteral("1"));
    openWindow();
    LockScreen &screen = window->security()->screen();
    const int waitsBefore = Database::serverWaitsOnMainThread();
    ASSERT_TRUE(server.freeze());
    QTest::keyClicks(screen.nameField(), QStringLiteral("anna"));
    QTest::keyClicks(screen.passwordField(), QStringLiteral("anna-secret"));
    PaintCounter counter;
    screen.installEventFilter(&counter);
    QElapsedTimer answered;
    answered.start();
    QTest::mouseClick(screen.loginButton(), Qt::LeftButton);
    EXPECT_LT(answered.elapsed(), 1000);
    EXPECT_FALSE(screen.loginButton()->isEnabled());
    EXPECT_TRUE(QTest::qWaitFor([&] { return counter.paints > 0; }, 1000));
    EXPECT_TRUE(screen.isUp());
    server.thaw();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !screen.isUp(); }, 15000));
    EXPECT_EQ(window->security()->current()->login, QStringLiteral("anna"));
    EXPECT_EQ(Database::serverWaitsOnMainThread(), waitsBefore);
}

TEST(DatabaseCopy, ARoomsRecordsAndPicturesArriveOnceHoweverOftenItRuns)
{
    TestHome home;
    PgServer server;
    if (!server.start())
        GTEST_SKIP() << "the private PostgreSQL server cannot start: " << server.error().toStdString();
    {
        Database local;
        local.open(DatabaseParameters::defaultFile());
        Statements::insertPatient(local, {.client_id = QStringLiteral("10001"), .client_name = QStringLiteral("Ann")});
        const qint64 id =
            Statements::insertExamRecord(local,
                                         {.client_id = QStringLiteral("10001"),
                                          .printtime = QDateTime(QDate(2016, 3, 3), QTime(14, 5, 9)),
                                          .title = QStringLiteral("Gastroscopy"),
                                          .pic = {QStringLiteral("p1.jpg"), QString(), QString(), QString()},
                                          .rh = 48.0});
        MeasurementStore::insert(local, id, {{.slot = 1, .end = {30, 40}, .lengthMm = 5, .mmPerPixel = 0.1}});
    }
    const QByteArray jpeg("\xFF\xD8 not decoded here \xFF\xD9");
    home.write(QStringLiteral("images/p1.jpg"), jpeg);
    useServer(server.connection());

    ASSERT_EQ(copyDatabaseToServer(), 0);
    ASSERT_EQ(copyDatabaseToServer(), 0);

    Database db;
    db.open();
    ASSERT_TRUE(db.parameters().isServer());
    const auto count = [&](const char *table) {
        QSqlQuery query = db.run(QStringLiteral("select count(*) from %1").arg(QLatin1String(table)), {});
        return query.next() ? query.value(0).toInt() : -1;
    };
    EXPECT_EQ(count("t_clients"), 1);
    EXPECT_EQ(count("t_contents"), 1);
    EXPECT_EQ(MeasurementStore::ofPatient(db, QStringLiteral("10001")).size(), 1);
    EXPECT_EQ(Statements::loadPicture(db, QStringLiteral("p1.jpg")), jpeg);
    EXPECT_EQ(Statements::loadPatient(db, QStringLiteral("10001"))->client_name, QStringLiteral("Ann"));
}
