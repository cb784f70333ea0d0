// Look-up speed over a generated table of patients, each figure beside the bare SQL query that
// answers it, first on SQLite, then on a private PostgreSQL server over loopback. Usage:
// bench_lookup [patients, default 1000000] [folder, default a temporary one] [sqlite: SQLite
// only]. On the server it also times the number keystroke through the look-up thread, over
// loopback and through a relay adding 2 ms and 20 ms each way. The SQLite database is generated once per folder and
// reused on later runs; the server's cluster lives under the folder for the run only.
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

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
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

// A TCP relay on loopback that delivers every chunk `delayMs` after it arrived, each way: a
// link with that much latency added. Each direction has a reader and a writer thread.
class DelayingRelay {
public:
    DelayingRelay(int serverPort, int delayMs)
        : m_serverPort(serverPort)
        , m_delay(delayMs)
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listener, 16);
        socklen_t length = sizeof address;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this] { accept(); });
    }
    ~DelayingRelay()
    {
        m_quit = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_acceptor.join();
        for (int socket : m_sockets)
            ::shutdown(socket, SHUT_RDWR);
        for (auto &pipe : m_pipes)
            pipe->wake.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
        for (int socket : m_sockets)
            ::close(socket);
        ::close(m_listener);
    }
    int port() const { return m_port; }

private:
    struct Pipe {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::pair<std::chrono::steady_clock::time_point, QByteArray>> chunks;
        bool closed = false;
    };

    void accept()
    {
        for (;;) {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0 || m_quit)
                return;
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(quint16(m_serverPort));
            ::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address);
            for (int socket : {client, server}) {
                const int on = 1;
                ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                m_sockets.push_back(socket);
            }
            relay(client, server);
            relay(server, client);
        }
    }

    void relay(int from, int to)
    {
        auto pipe = std::make_shared<Pipe>();
        m_pipes.push_back(pipe);
        m_threads.emplace_back([this, from, pipe] {
            char buffer[65536];
            for (;;) {
                const ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
                const std::lock_guard lock(pipe->mutex);
                if (got <= 0) {
                    pipe->closed = true;
                    pipe->wake.notify_one();
                    return;
                }
                pipe->chunks.emplace_back(std::chrono::steady_clock::now() + m_delay, QByteArray(buffer, int(got)));
                pipe->wake.notify_one();
            }
        });
        m_threads.emplace_back([this, to, pipe] {
            std::unique_lock lock(pipe->mutex);
            for (;;) {
                pipe->wake.wait(lock, [&] { return !pipe->chunks.empty() || pipe->closed || m_quit; });
                if (pipe->chunks.empty()) {
                    ::shutdown(to, SHUT_WR);
                    return;
                }
                const auto due = pipe->chunks.front().first;
                if (std::chrono::steady_clock::now() < due) {
                    pipe->wake.wait_until(lock, due);
                    continue;
                }
                const QByteArray chunk = pipe->chunks.front().second;
                pipe->chunks.pop_front();
                lock.unlock();
                ::send(to, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL);
                lock.lock();
            }
        });
    }

    int m_serverPort;
    std::chrono::milliseconds m_delay;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_quit{false};
    std::vector<int> m_sockets; // the accept thread's until the destructor
    std::vector<std::shared_ptr<Pipe>> m_pipes;
    std::vector<std::thread> m_threads;
    std::thread m_acceptor; // last: starts once the members above exist
};

// CPU time of the calling thread, ms.
double threadCpuMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Spread {
    double median = 0;
    double p99 = 0;
};
Spread spreadOf(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 99 / 100)]};
}

// The number keystroke as the window runs it on a server: the look-up goes to the look-up
// thread; measured are the window's thread's time inside the keystroke, the time until the
// answer filled the list, and the bare statements 2 and 3 on a connection of the same link.
void measureThreaded(const QString &connection, const char *link)
{
    constexpr int kKeystrokes = 201;
    Database db;
    db.open(DatabaseParameters::postgresql(connection));
    QWidget window;
    PatientControls c;
    c.edtNumber = new QLineEdit(&window);
    c.edtName = new QLineEdit(&window);
    c.lstNumber = new QListView(&window);
    c.plGrid = new QWidget(&window);
    c.clientGrid = new QTableView(c.plGrid);
    window.resize(600, 400);
    window.show();
    PatientLookup lookup(db, c, {});
    lookup.setLookUpsOnThread(true);
    bool filled = false;
    QObject::connect(lookup.numberList(), &QAbstractItemModel::modelReset, [&] { filled = true; });
    c.edtNumber->setFocus();
    // The text cursor's blink repaints the focused field every 0.5 s whatever is typed: not the
    // keystroke's work, and over a slow link it would fall into every sixth keystroke's wait.
    QApplication::setCursorFlashTime(0);
    std::vector<double> busy, answered, bare;
    const QStringList prefixes = {QStringLiteral("200"), QStringLiteral("201")};
    for (int i = 0; i < kKeystrokes + 1; ++i) {
        filled = false;
        QElapsedTimer timer;
        timer.start();
        const double cpuBefore = threadCpuMs();
        c.edtNumber->setText(prefixes.at(i % 2)); // its change reaction asks the look-up thread
        while (!filled)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The window's thread's own work: the request and the answer applied to the list.
        const double inside = threadCpuMs() - cpuBefore;
        if (i == 0)
            continue; // the look-up thread's connection opens at the first
        busy.push_back(inside);
        answered.push_back(timer.nsecsElapsed() / 1e6);
        QElapsedTimer statement;
        statement.start();
        const QString key = prefixes.at(i % 2);
        const QString next = QString::number(key.toInt() + 1);
        fetchAll(db,
                 QStringLiteral("select client_id from t_clients where client_id_key >= '%1' and client_id_key <"
                                " '%2' and client_id_key like '%1%' order by client_id_key limit %3")
                     .arg(key, next)
                     .arg(NumberListModel::kFirstPage));
        fetchAll(db, QStringLiteral("select client_id from t_clients where client_id_key = '%1' limit 2").arg(key));
        bare.push_back(statement.nsecsElapsed() / 1e6);
    }
    const Spread b = spreadOf(busy), a = spreadOf(answered), s = spreadOf(bare);
    std::printf("%-22s %9.3f %9.3f   %9.3f %9.3f   %9.3f %9.3f\n", link, a.median, a.p99, s.median, s.p99, b.median,
                b.p99);
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
    {
        Database db;
        db.open(DatabaseParameters::postgresql(server.connection()));
        measure(db, patients);
    }

    // The number keystroke through the look-up thread, on loopback and through a relay adding
    // 2 ms and 20 ms each way.
    std::printf("== number keystroke \"200\"/\"201\" on the look-up thread, 201 keystrokes (ms)\n");
    std::printf("%-22s %9s %9s   %9s %9s   %9s %9s\n", "link", "filled", "p99", "bare 2+3", "p99", "window", "p99");
    measureThreaded(server.connection(), "loopback");
    for (const int delayMs : {2, 20}) {
        DelayingRelay relay(server.port(), delayMs);
        QString connection = server.connection();
        connection.replace(QStringLiteral("port=%1").arg(server.port()), QStringLiteral("port=%1").arg(relay.port()));
        measureThreaded(connection, delayMs == 2 ? "+2 ms each way" : "+20 ms each way");
    }
    return 0;
}
