// Look-up speed over a generated table of patients, each figure beside the bare SQL query that
// answers it, first on SQLite, then on a private PostgreSQL server over loopback. Usage:
// bench_lookup [patients, default 1000000] [folder, default a temporary one] [sqlite: SQLite
// only]. The SQLite database is generated once per folder and reused on later runs; the
// server's cluster lives under the folder for the run only.
#include "PgServer.h"
#include "core/ProgramFolder.h"
#include "records/Database.h"
#include "records/NumberListModel.h"
#include "records/PatientLookup.h"
#include "records/PatientNumbering.h"
#include "records/PatientText.h"
#include "records/Statements.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int kRuns = 51;

double medianMs(const std::function<void()> &work, int runs = kRuns)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

const char *const kSyllables[] = {"an", "be", "chi", "do", "el", "fa", "gu", "ha", "io", "ju", "ka",
                                  "li", "mo", "na",  "ol", "pe", "qu", "ra", "su", "ta", "ul", "vi",
                                  "wa", "xe", "yo",  "zu", "ä",  "ö",  "дм", "ив", "李", "王"};

void generate(Database &db, int patients)
{
    std::mt19937 random(42);
    ScopedTransaction transaction(db);
    QSqlQuery insert = db.prepare(QString::fromLatin1(Statements::kText[8]));
    for (int i = 0; i < patients; ++i) {
        const QString number = QString::number(10001 + i);
        QString name;
        for (int s = 0; s < 3; ++s)
            name += QString::fromUtf8(kSyllables[random() % std::size(kSyllables)]);
        name[0] = name[0].toUpper();
        const QString phone = QStringLiteral("1%1").arg(random() % 1000000000u, 9, 10, QLatin1Char('0'));
        insert.bindValue(QStringLiteral(":c_id"), number);
        insert.bindValue(QStringLiteral(":c_name"), name);
        insert.bindValue(QStringLiteral(":c_sex"), QStringLiteral("M"));
        insert.bindValue(QStringLiteral(":c_age"), QString::number(random() % 90));
        insert.bindValue(QStringLiteral(":c_tel"), phone);
        insert.bindValue(QStringLiteral(":c_addr"), QStringLiteral("Street %1").arg(i));
        insert.bindValue(QStringLiteral(":c_id_key"), PatientText::key(number));
        insert.bindValue(QStringLiteral(":c_name_key"), PatientText::key(name));
        insert.bindValue(QStringLiteral(":c_tel_key"), PatientText::key(phone));
        insert.bindValue(QStringLiteral(":c_num"), 10001 + i);
        db.exec(insert);
    }
    transaction.commit();
    db.execute(QStringLiteral("analyze"));
}

int fetchAll(const Database &db, const QString &statement)
{
    QSqlQuery query = db.run(statement, {});
    int rows = 0;
    while (query.next())
        ++rows;
    return rows;
}

// The note is built after both measurements (argument order is unspecified).
void row(const char *what, const std::function<void()> &ours, const std::function<void()> &bare,
         const std::function<QString()> &note, int runs = kRuns)
{
    const double oursMs = medianMs(ours, runs);
    const double bareMs = medianMs(bare, runs);
    std::printf("%-46s %10.3f %10.3f   %s\n", what, oursMs, bareMs, qPrintable(note()));
}

void measure(Database &db, int patients)
{
    if (!Statements::patientExists(db, QString::number(10000 + patients))) {
        QElapsedTimer timer;
        timer.start();
        generate(db, patients);
        std::printf("generated %d patients in %.1f s\n", patients, timer.elapsed() / 1000.0);
    }

    QWidget window;
    QWidget group(&window);
    PatientControls c;
    c.edtNumber = new QLineEdit(&group);
    c.edtName = new QLineEdit(&group);
    c.cbSex = new QComboBox(&group);
    c.cbSex->setEditable(true);
    c.edtAge = new QLineEdit(&group);
    c.edtTel = new QLineEdit(&group);
    c.edtAddr = new QLineEdit(&group);
    c.lstNumber = new QListView(&window);
    c.plGrid = new QWidget(&window);
    c.clientGrid = new QTableView(c.plGrid);
    // Where the window puts them (app/untMainLayout.cpp): the grid hangs below the fields.
    // Left overlapping, the grid would lie over the focused field and be painted again with
    // every character that field shows.
    group.setGeometry(0, 0, 577, 92);
    c.edtNumber->setGeometry(50, 28, 110, 22);
    c.edtName->setGeometry(262, 28, 120, 22);
    c.cbSex->setGeometry(438, 28, 120, 22);
    c.edtAge->setGeometry(50, 60, 110, 22);
    c.edtTel->setGeometry(262, 60, 120, 22);
    c.edtAddr->setGeometry(438, 60, 120, 22);
    c.plGrid->setGeometry(8, 96, 553, 281);
    c.clientGrid->setGeometry(24, 24, 497, 233);
    PatientHooks hooks;
    PatientLookup lookup(db, c, hooks);
    PatientNumbering numbering(db, lookup);
    window.resize(577, 700);
    window.show();
    QApplication::processEvents();
    c.edtNumber->setFocus();

    // One keystroke: the system writes the field with its reactions detached, then runs the
    // reaction exactly as a typed change would, and lets the window paint.
    const auto keystroke = [&](QLineEdit *field, const QString &text, void (PatientLookup::*reaction)()) {
        return [&, field, text, reaction] {
            lookup.DetachPatientHandlers();
            field->setText(text);
            lookup.AttachPatientHandlers();
            (lookup.*reaction)();
            QApplication::processEvents();
        };
    };

    std::printf("%-46s %10s %10s\n", "median of 51 runs (ms)", "system", "bare SQL");

    const QString prefix = QStringLiteral("200");
    const int prefixMatches = fetchAll(db,
                                       QStringLiteral("select client_id from t_clients where client_id_key >= '200'"
                                                      " and client_id_key < '201' and client_id_key like '200%'"));
    row(
        "number keystroke, ~1000 matches (stmt 2+3)", keystroke(c.edtNumber, prefix, &PatientLookup::edtNumberChange),
        [&] {
            fetchAll(db,
                     QStringLiteral("select client_id from t_clients where client_id_key >= '200'"
                                    " and client_id_key < '201' and client_id_key like '200%'"));
            fetchAll(db, QStringLiteral("select client_id from t_clients where client_id_key = '200' limit 2"));
        },
        [&] {
            return QStringLiteral("\"%1\": %2 numbers, list shows %3 so far")
                .arg(prefix)
                .arg(prefixMatches)
                .arg(lookup.numberList()->rowCount());
        });

    const int oneMatches = fetchAll(db,
                                    QStringLiteral("select client_id from t_clients where client_id_key >= '1'"
                                                   " and client_id_key < '2' and client_id_key like '1%'"));
    row(
        "number keystroke \"1\" (stmt 2+3)",
        keystroke(c.edtNumber, QStringLiteral("1"), &PatientLookup::edtNumberChange),
        [&] {
            fetchAll(db,
                     QStringLiteral("select client_id from t_clients where client_id_key >= '1'"
                                    " and client_id_key < '2' and client_id_key like '1%'"));
        },
        [&] { return QStringLiteral("%1 numbers; bare SQL reads them all, the list one page").arg(oneMatches); }, 11);

    row(
        "list scrolled: one more page of numbers",
        [&] {
            NumberListModel model;
            model.search(db, QStringLiteral("1"));
            model.fetchMore(QModelIndex());
        },
        [&] {
            fetchAll(db,
                     QStringLiteral("select rowid, client_id from t_clients where client_id_key >= '1'"
                                    " and client_id_key < '2' and client_id_key like '1%' order by"
                                    " client_id_key, rowid limit 576"));
        },
        [&] { return QStringLiteral("first page and the next"); });

    row(
        "number keystroke, exact known number",
        keystroke(c.edtNumber, QStringLiteral("500000"), &PatientLookup::edtNumberChange),
        [&] {
            fetchAll(db,
                     QStringLiteral("select client_id from t_clients where client_id_key >= '500000'"
                                    " and client_id_key < '500001' and client_id_key like '500000%'"));
            fetchAll(db, QStringLiteral("select client_id from t_clients where client_id_key = '500000' limit 2"));
            fetchAll(db, QStringLiteral("select * from t_clients where client_id_key = '500000' limit 2"));
        },
        [&] { return QStringLiteral("loads the patient's fields"); });

    c.edtNumber->clear();
    c.edtName->setFocus();
    row(
        "name keystroke (stmt 4 into the grid)",
        keystroke(c.edtName, QStringLiteral("Anbe"), &PatientLookup::edtNameChange),
        [&] {
            fetchAll(db,
                     QStringLiteral("select client_id, client_name, sex, age, client_phone, address from"
                                    " t_clients where client_name_key >= 'anbe' and client_name_key < 'anbf'"
                                    " and client_name_key like 'anbe%' limit 10"));
        },
        [&] { return QStringLiteral("\"Anbe\", grid rows %1").arg(c.clientGrid->model()->rowCount()); });
    row(
        "name keystroke, non-ASCII other case",
        keystroke(c.edtName, QStringLiteral("ДМ"), &PatientLookup::edtNameChange),
        [&] {
            fetchAll(db,
                     QStringLiteral("select client_id, client_name, sex, age, client_phone, address from"
                                    " t_clients where client_name_key >= 'дм' and client_name_key < 'дн'"
                                    " and client_name_key like 'дм%' limit 10"));
        },
        [&] { return QStringLiteral("\"ДМ\", grid rows %1").arg(c.clientGrid->model()->rowCount()); });
    c.edtTel->setFocus();
    row(
        "telephone keystroke (stmt 5 into the grid)",
        keystroke(c.edtTel, QStringLiteral("1234"), &PatientLookup::edtTelChange),
        [&] {
            fetchAll(db,
                     QStringLiteral("select client_id, client_name, sex, age, client_phone, address from"
                                    " t_clients where client_phone_key >= '1234' and client_phone_key < '1235'"
                                    " and client_phone_key like '1234%' limit 10"));
        },
        [&] { return QStringLiteral("\"1234\", grid rows %1").arg(c.clientGrid->model()->rowCount()); });

    QString drawn;
    row(
        "NextPatientNumber (stmt 6 + 7)", [&] { drawn = numbering.NextPatientNumber(); },
        [&] { fetchAll(db, QStringLiteral("select max(client_num) from t_clients")); },
        [&] { return QStringLiteral("draws %1").arg(drawn); });
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int patients = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000000;
    QTemporaryDir temporary;
    ProgramFolder::set(argc > 2 ? QString::fromLocal8Bit(argv[2]) : temporary.path());

    std::printf("== SQLite (%s)\n", qPrintable(DatabaseParameters::defaultFile()));
    {
        Database db;
        db.open(DatabaseParameters::defaultFile());
        measure(db, patients);
    }
    if (argc > 3 && QString::fromLocal8Bit(argv[3]) == u"sqlite")
        return 0;

    PgServer server(true);
    if (!server.start()) {
        std::printf("== PostgreSQL: cannot start a private server: %s\n", qPrintable(server.error()));
        return 1;
    }
    std::printf("== PostgreSQL 15 over loopback\n");
    Database db;
    db.open(DatabaseParameters::postgresql(server.connection()));
    measure(db, patients);
    return 0;
}
