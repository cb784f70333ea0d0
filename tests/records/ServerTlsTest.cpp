// TLS to the database server with the server's certificate checked (sslmode=verify-full): the
// private server with ssl=on and a certificate of a test CA made here with openssl.
#include "RecordsFixture.h"
#include "core/AppError.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

bool openssl(const QString &folder, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(QStringLiteral("openssl"), arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A self-signed CA named `name` in folder (name.crt, name.key).
bool makeCa(const QString &folder, const QString &name)
{
    return openssl(folder,
                   {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + name, "-keyout",
                    name + ".key", "-out", name + ".crt"});
}

} // namespace

TEST(ServerTls, VerifyFullConnectsWithTheServersCaAndRefusesAnother)
{
    TestHome home;
    const QTemporaryDir keys;
    const QString folder = keys.path();
    ASSERT_TRUE(makeCa(folder, "clinic-ca") && makeCa(folder, "other-ca"));
    std::FILE *names = std::fopen(qPrintable(folder + "/names.ext"), "w");
    ASSERT_NE(names, nullptr);
    std::fputs("subjectAltName=DNS:localhost,IP:127.0.0.1\n", names);
    std::fclose(names);
    ASSERT_TRUE(openssl(folder,
                        {"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", "server.key",
                         "-out", "server.csr"}));
    ASSERT_TRUE(openssl(folder,
                        {"x509", "-req", "-in", "server.csr", "-CA", "clinic-ca.crt", "-CAkey", "clinic-ca.key",
                         "-CAcreateserial", "-days", "2", "-extfile", "names.ext", "-out", "server.crt"}));

    PgServer server(true); // over loopback TCP, where TLS applies
    server.useTls(folder + "/server.crt", folder + "/server.key");
    if (!server.start())
        GTEST_SKIP() << "the private PostgreSQL server cannot start: " << server.error().toStdString();
    const QString connection = server.connection() + " sslmode=verify-full sslrootcert=";

    Database db;
    db.open(DatabaseParameters::postgresql(connection + folder + "/clinic-ca.crt"));
    QSqlQuery tls = db.run(QStringLiteral("select ssl from pg_stat_ssl where pid = pg_backend_pid()"), {});
    ASSERT_TRUE(tls.next());
    EXPECT_TRUE(tls.value(0).toBool());
    tls.finish();
    db.close();

    try {
        db.open(DatabaseParameters::postgresql(connection + folder + "/other-ca.crt"));
        ADD_FAILURE() << "a server certificate of another CA was taken";
    } catch (const AppError &error) {
        EXPECT_TRUE(error.message().contains(QStringLiteral("certificate verify failed")))
            << error.message().toStdString();
    }
}
