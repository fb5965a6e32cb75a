// Each OpenVPN template the stock OpenVPN can run (all but the XOR ones)
// connects: a real OpenVPN client gets the generated remote/port block plus
// the template, exactly as the client writes "config.ovpn", and must reach
// CONNECTED against the loopback demo server, steered over its management
// interface like the client does it. The templates add routes, so all of it
// runs inside a private network namespace (root only; skipped otherwise).

#include "deployment.h"
#include "nstools.h"
#include "openvpnserverfixture.h"
#include "resources.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {

const quint16 kManagementPort = 7506;
const char kUser[] = "demo-user";
const char kPassword[] = "demo \"pass\" word";

QString fixturesOpenVpnDir()
{
    return TestSupport::fixturesDir() + QStringLiteral("/openvpn");
}

QString demoPki(const QString& file)
{
    return fixturesOpenVpnDir() + QStringLiteral("/demo-pki/") + file;
}

// Writes a deployment file where the server configuration can name it.
QString deploymentFileOnDisk(const QString& dir, const QString& name)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(Deployment::file(name));
    return path;
}

// Quotes a management-interface argument: backslash and double quote escaped.
QByteArray quoted(const QByteArray& value)
{
    QByteArray out = value;
    out.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + out + '"';
}

// Line-oriented management client with bounded waits.
class Management
{
public:
    bool connectTo(quint16 port, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
            if (m_socket.waitForConnected(500))
                return true;
            m_socket.abort();
            QTest::qWait(100);
        }
        return false;
    }
    void send(const QByteArray& line)
    {
        m_socket.write(line + '\n');
        m_socket.waitForBytesWritten(2000);
    }
    // Reads lines until one matches; answers password prompts on the way.
    // Returns the matching line, or an empty one on time-out or close.
    QByteArray waitFor(const QRegularExpression& re, int timeoutMs, QByteArrayList* seen)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            while (m_socket.canReadLine()) {
                const QByteArray line = m_socket.readLine().trimmed();
                if (seen)
                    seen->append(line);
                if (line.startsWith(">PASSWORD:Need 'Auth'")) {
                    send("username \"Auth\" " + quoted(kUser));
                    send("password \"Auth\" " + quoted(kPassword));
                }
                if (re.match(QString::fromLatin1(line)).hasMatch())
                    return line;
            }
            if (m_socket.state() != QAbstractSocket::ConnectedState)
                return QByteArray();
            m_socket.waitForReadyRead(200);
        }
        return QByteArray();
    }

private:
    QTcpSocket m_socket;
};

} // namespace

class TestTemplateConnect : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void connects_data();
    void connects();

private:
    QString m_openvpn;
    QTemporaryDir m_work;
};

void TestTemplateConnect::initTestCase()
{
    initResources();
    if (!NsTools::inPrivateNamespaces())
        QSKIP("needs root: client and server run in a private network namespace");
    if (!QFile::exists(QStringLiteral("/dev/net/tun")))
        QSKIP("no /dev/net/tun");
    m_openvpn = QStandardPaths::findExecutable(QStringLiteral("openvpn"), { "/usr/sbin", "/usr/bin", "/sbin" });
    if (m_openvpn.isEmpty())
        QSKIP("openvpn is not installed");
    QVERIFY(m_work.isValid());
}

void TestTemplateConnect::connects_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("proto");
    QTest::addColumn<QString>("serverCert"); // base name in demo-pki/
    QTest::addColumn<QString>("ca"); // deployment file
    QTest::addColumn<QStringList>("directives"); // server side of the template's choices
    QTest::addColumn<quint16>("port");

    // Key files are filled in by the test (they live in the deployment data).
    const QStringList c128 { "tls-auth @static-key-a.key@ 0", "auth SHA256", "comp-lzo" };
    const QStringList c256 { "tls-crypt @static-key-b.key@", "auth SHA512" };
    const QStringList ecc { "tls-crypt @static-key-c.key@", "auth SHA512", "tls-groups secp256k1:X25519:prime256v1" };

    QTest::newRow("tcp-128") << "tcp-128.ovpn"
                             << "tcp"
                             << "server-rsa"
                             << "ca-rsa.pem" << c128 << quint16(11301);
    QTest::newRow("udp-128") << "udp-128.ovpn"
                             << "udp"
                             << "server-rsa"
                             << "ca-rsa.pem" << c128 << quint16(11302);
    QTest::newRow("tcp-256") << "tcp-256.ovpn"
                             << "tcp"
                             << "server-rsa"
                             << "ca-rsa.pem" << c256 << quint16(11303);
    QTest::newRow("udp-256") << "udp-256.ovpn"
                             << "udp"
                             << "server-rsa"
                             << "ca-rsa.pem" << c256 << quint16(11304);
    // A client limited to the group secp256k1 needs a server key on it.
    QTest::newRow("ecc-tcp-128") << "ecc-tcp-128.ovpn"
                                 << "tcp"
                                 << "server-ec-secp256k1"
                                 << "ca-ec.pem" << ecc << quint16(11305);
    QTest::newRow("ecc-udp-128") << "ecc-udp-128.ovpn"
                                 << "udp"
                                 << "server-ec-secp256k1"
                                 << "ca-ec.pem" << ecc << quint16(11306);
    QTest::newRow("ecc-tcp-128-libre") << "ecc-tcp-128-libre.ovpn"
                                       << "tcp"
                                       << "server-ec"
                                       << "ca-ec.pem" << ecc << quint16(11307);
    QTest::newRow("ecc-udp-128-libre") << "ecc-udp-128-libre.ovpn"
                                       << "udp"
                                       << "server-ec"
                                       << "ca-ec.pem" << ecc << quint16(11308);
}

void TestTemplateConnect::connects()
{
    QFETCH(QString, name);
    QFETCH(QString, proto);
    QFETCH(QString, serverCert);
    QFETCH(QString, ca);
    QFETCH(QStringList, directives);
    QFETCH(quint16, port);

    const QString rowDir = m_work.filePath(name);
    QVERIFY(QDir().mkpath(rowDir + QStringLiteral("/client")));
    const QString keysDir = rowDir + QStringLiteral("/keys");
    QVERIFY(QDir().mkpath(keysDir));

    // Server: the demo PKI, the template's key, digest and compression.
    for (QString& d : directives) {
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("@([a-z0-9.-]+)@")).match(d);
        if (m.hasMatch())
            d.replace(m.captured(0), deploymentFileOnDisk(keysDir, m.captured(1)));
    }
    OpenVpnServerFixture server(fixturesOpenVpnDir(), rowDir + QStringLiteral("/server"));
    server.setPki(deploymentFileOnDisk(keysDir, ca), demoPki(serverCert + ".crt"), demoPki(serverCert + ".key"));
    server.addUser(QString::fromLatin1(kUser), QString::fromLatin1(kPassword));
    QString error;
    QVERIFY2(server.start(proto, port, directives, &error), qPrintable(error + "\n" + server.log()));

    // Client configuration as the client writes it: generated lines with
    // CR LF, then the template bytes unchanged.
    QFile tmpl(QStringLiteral(":/ovpnconfs/") + name);
    QVERIFY(tmpl.open(QIODevice::ReadOnly));
    QByteArray config;
    if (proto == QLatin1String("tcp"))
        config += "proto tcp-client\r\n";
    config += "remote 127.0.0.1\r\nrport " + QByteArray::number(port) + "\r\npersist-remote-ip\r\n";
    config += tmpl.readAll();
    const QString clientDir = rowDir + QStringLiteral("/client");
    QFile out(clientDir + QStringLiteral("/config.ovpn"));
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(config);
    out.close();

    QProcess client;
    client.setWorkingDirectory(clientDir);
    client.setProcessChannelMode(QProcess::MergedChannels);
    client.start(m_openvpn,
                 { "--management", "127.0.0.1", QString::number(kManagementPort), "--management-query-passwords",
                   "--management-hold", "--config", "config.ovpn" });
    QVERIFY(client.waitForStarted(5000));
    auto stopClient = qScopeGuard([&client] {
        if (client.state() != QProcess::NotRunning) {
            client.terminate();
            if (!client.waitForFinished(10000)) {
                client.kill();
                client.waitForFinished(5000);
            }
        }
    });

    Management mgmt;
    QVERIFY2(mgmt.connectTo(kManagementPort, 10000), client.readAll().constData());
    mgmt.send("state on");
    mgmt.send("hold release");
    QByteArrayList seen;
    const QByteArray connected = mgmt.waitFor(QRegularExpression(QStringLiteral("^>STATE:\\d+,CONNECTED,SUCCESS,")),
                                              40000, &seen);
    QVERIFY2(!connected.isEmpty(),
             qPrintable(QString::fromLatin1(seen.join('\n')) + "\n--- client\n"
                        + QString::fromLocal8Bit(client.readAll()) + "\n--- server\n" + server.log()));

    // The template's own route now goes through the tunnel.
    QProcess ip;
    ip.start(QStringLiteral("ip"), { "-4", "route", "show", "0.0.0.0/1" });
    QVERIFY(ip.waitForFinished(5000));
    const QByteArray routes = ip.readAllStandardOutput();
    QVERIFY2(routes.contains("dev tun"), routes.constData());

    mgmt.send("signal SIGTERM");
    QVERIFY(client.waitForFinished(15000));
    QVERIFY(server.stop());
}

OSTREL_TEST_MAIN(TestTemplateConnect,
                 TestMain::Core | TestMain::PrivateNamespaces | TestMain::LoopbackUp | TestMain::PrivateResolverFile)

#include "tst_templateconnect.moc"
