// The OpenVPN templates and the V2Ray template in ":/ovpnconfs/": exactly the
// directives each template must carry, the deployment's CA and keys inline,
// the file form the configuration writer relies on.

#include "deployment.h"
#include "resources.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QStringList kTemplates = { "tcp-128.ovpn",           "udp-128.ovpn",           "tcp-256.ovpn",
                                 "udp-256.ovpn",           "ecc-tcp-128.ovpn",       "ecc-udp-128.ovpn",
                                 "ecc-tcp-128-libre.ovpn", "ecc-udp-128-libre.ovpn", "xor-tcp-128.ovpn",
                                 "xor-udp-128.ovpn" };

QByteArray templateBytes(const QString& name)
{
    QFile f(QStringLiteral(":/ovpnconfs/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

struct ParsedTemplate
{
    QStringList directives; // lines outside inline blocks, in order
    QMap<QString, QStringList> blocks; // tag -> body lines
    QStringList commentsBeforeKey; // "#" lines right before the key block
    bool unclosedBlock = false;
};

ParsedTemplate parse(const QByteArray& bytes)
{
    ParsedTemplate t;
    QString openTag;
    QStringList pendingComments;
    const QStringList lines = QString::fromLatin1(bytes).split('\n');
    for (int i = 0; i + 1 < lines.size(); ++i) { // the part after the final LF is empty
        const QString& line = lines.at(i);
        if (!openTag.isEmpty()) {
            if (line == "</" + openTag + ">")
                openTag.clear();
            else
                t.blocks[openTag] << line;
            continue;
        }
        static const QRegularExpression open(QStringLiteral("^<([a-z-]+)>$"));
        const auto m = open.match(line);
        if (m.hasMatch()) {
            openTag = m.captured(1);
            t.blocks[openTag];
            if (openTag != QLatin1String("ca"))
                t.commentsBeforeKey = pendingComments;
            pendingComments.clear();
            continue;
        }
        if (line.startsWith('#'))
            pendingComments << line;
        else
            t.directives << line;
    }
    t.unclosedBlock = !openTag.isEmpty();
    return t;
}

QString keyText(const QStringList& body)
{
    return body.join('\n');
}

QString deploymentKey(const char* name)
{
    // The deployment file as openvpn writes it, less its comment lines.
    QStringList lines;
    for (const QString& line : QString::fromLatin1(Deployment::file(QString::fromLatin1(name))).split('\n'))
        if (!line.startsWith('#') && !line.trimmed().isEmpty())
            lines << line.trimmed();
    return lines.join('\n');
}

} // namespace

class TestOvpnTemplates : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initResources(); }
    void plainTextWithLfLineEnds_data();
    void plainTextWithLfLineEnds();
    void exactlyTheDirectivesOfEachTemplate_data();
    void exactlyTheDirectivesOfEachTemplate();
    void certificateAuthorities();
    void staticKeys();
    void scramblePassword();
    void proxyTemplate();
    void proxyTemplateAcceptedByV2Ray();
};

void TestOvpnTemplates::plainTextWithLfLineEnds_data()
{
    QTest::addColumn<QString>("name");
    for (const QString& name : kTemplates)
        QTest::newRow(qPrintable(name)) << name;
    QTest::newRow("proxy_template.json") << QStringLiteral("proxy_template.json");
}

void TestOvpnTemplates::plainTextWithLfLineEnds()
{
    QFETCH(QString, name);
    const QByteArray bytes = templateBytes(name);
    QVERIFY2(!bytes.isEmpty(), qPrintable(name));
    QVERIFY2(!bytes.contains('\r'), "CR in a template");
    QVERIFY2(bytes.endsWith('\n') && !bytes.endsWith("\n\n"), "one final LF");
    for (char c : bytes)
        QVERIFY2((c >= 0x20 && c < 0x7f) || c == '\n', "not plain ASCII text");
    // The server address comes only from the generated part.
    for (const QByteArray& line : bytes.split('\n'))
        QVERIFY2(!line.trimmed().startsWith("remote ") && line.trimmed() != "remote", line.constData());
}

void TestOvpnTemplates::exactlyTheDirectivesOfEachTemplate_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<QString>("ca"); // "RSA" or "EC"
    QTest::addColumn<QString>("keyTag"); // "tls-auth", "tls-crypt" or empty

    const QStringList tcp { "proto tcp-client" };
    const QStringList udp { "explicit-exit-notify 2" };
    const QStringList c128 { "cipher AES-128-CBC", "auth SHA256",   "key-direction 1",
                             "comp-lzo",           "route-delay 1", "tls-version-min 1.2" };
    const QStringList c256 { "cipher AES-256-CBC", "auth SHA512", "key-direction 1", "tls-version-min 1.2" };
    const QStringList ecc { "cipher AES-128-CBC", "auth SHA512", "key-direction 1" };
    // secp256k1 is a TLS group up to TLS 1.2 only: a client offering TLS 1.3
    // with no other group cannot start its handshake, so the strict ECC
    // templates stay at TLS 1.2.
    const QStringList eccStrict { "route-delay 1", "tls-groups secp256k1", "tls-version-min 1.2",
                                  "tls-version-max 1.2" };
    const QStringList xorc { "cipher AES-128-CBC", "auth SHA512", "route-delay 1", "tls-version-min 1.2" };

    QTest::newRow("tcp-128") << "tcp-128.ovpn" << tcp + c128 << "RSA"
                             << "tls-auth";
    QTest::newRow("udp-128") << "udp-128.ovpn" << QStringList { "proto udp" } + udp + c128 << "RSA"
                             << "tls-auth";
    QTest::newRow("tcp-256") << "tcp-256.ovpn" << tcp + c256 + QStringList { "route-delay 3", "tls-client" } << "RSA"
                             << "tls-crypt";
    QTest::newRow("udp-256") << "udp-256.ovpn" << udp + c256 + QStringList { "route-delay 1" } << "RSA"
                             << "tls-crypt";
    QTest::newRow("ecc-tcp-128") << "ecc-tcp-128.ovpn" << tcp + ecc + eccStrict << "EC"
                                 << "tls-crypt";
    QTest::newRow("ecc-udp-128") << "ecc-udp-128.ovpn" << udp + ecc + eccStrict + QStringList { "mssfix 1300" } << "EC"
                                 << "tls-crypt";
    QTest::newRow("ecc-tcp-128-libre") << "ecc-tcp-128-libre.ovpn"
                                       << tcp + ecc + QStringList { "route-delay 3", "tls-version-min 1.1" } << "EC"
                                       << "tls-crypt";
    QTest::newRow("ecc-udp-128-libre") << "ecc-udp-128-libre.ovpn"
                                       << udp + ecc
            + QStringList { "mssfix 1300", "route-delay 2", "tls-version-min 1.1" }
                                       << "EC"
                                       << "tls-crypt";
    QTest::newRow("xor-tcp-128") << "xor-tcp-128.ovpn" << tcp + xorc << "RSA"
                                 << "";
    QTest::newRow("xor-udp-128") << "xor-udp-128.ovpn" << udp + xorc + QStringList { "mssfix 1300" } << "RSA"
                                 << "";
}

void TestOvpnTemplates::exactlyTheDirectivesOfEachTemplate()
{
    QFETCH(QString, name);
    QFETCH(QStringList, extra);
    QFETCH(QString, ca);
    QFETCH(QString, keyTag);

    const ParsedTemplate t = parse(templateBytes(name));
    QVERIFY(!t.unclosedBlock);
    QStringList expected { "dev tun",
                           "tls-client",
                           "persist-key",
                           "nobind",
                           "pull",
                           ";redirect-gateway def1",
                           "verb 3",
                           "remote-cert-tls server",
                           "auth-user-pass",
                           "mute-replay-warnings",
                           "route 0.0.0.0 128.0.0.0",
                           "setenv opt block-outside-dns" };
    expected += extra;
    QStringList found = t.directives;
    const bool isXor = name.startsWith(QLatin1String("xor-"));
    if (isXor) {
        QVERIFY(!found.isEmpty());
        QVERIFY2(found.last().startsWith(QLatin1String("scramble obfuscate ")), "XOR templates end with scramble");
        found.removeLast();
    }
    // "tls-version-min" is common but differs in the libre variants; it is
    // listed per template above.
    std::sort(expected.begin(), expected.end());
    std::sort(found.begin(), found.end());
    QCOMPARE(found, expected);

    // Inline blocks: the CA, and the key of its kind.
    QStringList tags = t.blocks.keys();
    QStringList expectedTags { "ca" };
    if (!keyTag.isEmpty())
        expectedTags << keyTag;
    tags.sort();
    expectedTags.sort();
    QCOMPARE(tags, expectedTags);

    const QList<QSslCertificate> certs = QSslCertificate::fromData(keyText(t.blocks.value("ca")).toLatin1());
    QCOMPARE(certs.size(), 1);
    QCOMPARE(certs.first().publicKey().algorithm(), ca == QLatin1String("RSA") ? QSsl::Rsa : QSsl::Ec);

    // The 256 templates introduce their key with the three comment lines
    // openvpn writes; no other template has comments.
    if (name.contains(QLatin1String("-256")))
        QCOMPARE(t.commentsBeforeKey, (QStringList { "#", "# 2048 bit OpenVPN static key", "#" }));
    else
        QVERIFY(t.commentsBeforeKey.isEmpty());
    QVERIFY(!templateBytes(name).contains("\n#") || name.contains(QLatin1String("-256")));
}

void TestOvpnTemplates::certificateAuthorities()
{
    const QList<QSslCertificate> rsa = QSslCertificate::fromData(Deployment::file("ca-rsa.pem"));
    const QList<QSslCertificate> ec = QSslCertificate::fromData(Deployment::file("ca-ec.pem"));
    QCOMPARE(rsa.size(), 1);
    QCOMPARE(ec.size(), 1);
    QVERIFY(rsa.first().isSelfSigned());
    QVERIFY(ec.first().isSelfSigned());
    QVERIFY(rsa.first() != ec.first());
    for (const QString& name : kTemplates) {
        const ParsedTemplate t = parse(templateBytes(name));
        const QList<QSslCertificate> inTemplate = QSslCertificate::fromData(keyText(t.blocks.value("ca")).toLatin1());
        QCOMPARE(inTemplate.size(), 1);
        // Every template carries the deployment's own CA, the same bytes.
        const QSslCertificate& expected = name.startsWith(QLatin1String("ecc-")) ? ec.first() : rsa.first();
        QVERIFY2(inTemplate.first() == expected, qPrintable(name));
        QCOMPARE(keyText(t.blocks.value("ca")).toLatin1(), expected.toPem().trimmed());
    }
}

void TestOvpnTemplates::staticKeys()
{
    static const QRegularExpression form(QStringLiteral(
        "^-----BEGIN OpenVPN Static key V1-----\n([0-9a-f]{32}\n){16}-----END OpenVPN Static key V1-----$"));
    const QString a = deploymentKey("static-key-a.key");
    const QString b = deploymentKey("static-key-b.key");
    const QString c = deploymentKey("static-key-c.key");
    for (const QString& key : { a, b, c })
        QVERIFY2(form.match(key).hasMatch(), qPrintable(key));
    QVERIFY(a != b && b != c && a != c);

    const QMap<QString, QPair<QString, QString>> expected { { "tcp-128.ovpn", { "tls-auth", a } },
                                                            { "udp-128.ovpn", { "tls-auth", a } },
                                                            { "tcp-256.ovpn", { "tls-crypt", b } },
                                                            { "udp-256.ovpn", { "tls-crypt", b } },
                                                            { "ecc-tcp-128.ovpn", { "tls-crypt", c } },
                                                            { "ecc-udp-128.ovpn", { "tls-crypt", c } },
                                                            { "ecc-tcp-128-libre.ovpn", { "tls-crypt", c } },
                                                            { "ecc-udp-128-libre.ovpn", { "tls-crypt", c } } };
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const ParsedTemplate t = parse(templateBytes(it.key()));
        QVERIFY2(t.blocks.contains(it.value().first), qPrintable(it.key()));
        QCOMPARE(keyText(t.blocks.value(it.value().first)), it.value().second);
    }
}

void TestOvpnTemplates::scramblePassword()
{
    const QString password = QString::fromLatin1(Deployment::file("scramble-password.txt")).trimmed();
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{40}$")).match(password).hasMatch());
    for (const QString& name : { QStringLiteral("xor-tcp-128.ovpn"), QStringLiteral("xor-udp-128.ovpn") }) {
        const QByteArray bytes = templateBytes(name);
        QVERIFY2(bytes.endsWith("\nscramble obfuscate " + password.toLatin1() + "\n"), qPrintable(name));
        QCOMPARE(bytes.count("scramble"), 1);
    }
    for (const QString& name : kTemplates)
        if (!name.startsWith(QLatin1String("xor-")))
            QVERIFY2(!templateBytes(name).contains("scramble"), qPrintable(name));
}

static QByteArray filledProxyTemplate()
{
    QString text = QString::fromLatin1(templateBytes(QStringLiteral("proxy_template.json")));
    text.replace("%address%", "127.0.0.1")
        .replace("%port%", "8443")
        .replace("%userid%", "0c6f4c4e-3b5e-4d0e-9a53-1d3f5f0c2a77")
        .replace("%alterid%", "0")
        .replace("%path%", "/ws-path");
    return text.toLatin1();
}

void TestOvpnTemplates::proxyTemplate()
{
    const QByteArray raw = templateBytes(QStringLiteral("proxy_template.json"));
    for (const char* placeholder : { "%address%", "%port%", "%userid%", "%alterid%", "%path%" })
        QVERIFY2(raw.contains(placeholder), placeholder);
    // Numbers stand unquoted, texts inside strings.
    QVERIFY(raw.contains("\"port\": %port%"));
    QVERIFY(raw.contains("\"alterId\": %alterid%"));
    QVERIFY(raw.contains("\"%address%\"") && raw.contains("\"%userid%\"") && raw.contains("\"%path%\""));

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(filledProxyTemplate(), &error);
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
    const QJsonObject root = doc.object();
    QCOMPARE(root.keys(), (QStringList { "inbounds", "outbounds" }));

    const QJsonArray inbounds = root.value("inbounds").toArray();
    QCOMPARE(inbounds.size(), 1);
    const QJsonObject in = inbounds.first().toObject();
    QCOMPARE(in.value("port").toInt(), 10801);
    QCOMPARE(in.value("listen").toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(in.value("protocol").toString(), QStringLiteral("socks"));
    QCOMPARE(in.value("settings").toObject().value("udp"), QJsonValue(false));

    const QJsonArray outbounds = root.value("outbounds").toArray();
    QCOMPARE(outbounds.size(), 2);
    const QJsonObject vmess = outbounds.at(0).toObject();
    QCOMPARE(vmess.value("protocol").toString(), QStringLiteral("vmess"));
    const QJsonObject server = vmess.value("settings").toObject().value("vnext").toArray().first().toObject();
    QCOMPARE(server.value("address").toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(server.value("port").toInt(), 8443);
    const QJsonObject user = server.value("users").toArray().first().toObject();
    QCOMPARE(user.value("id").toString(), QStringLiteral("0c6f4c4e-3b5e-4d0e-9a53-1d3f5f0c2a77"));
    QCOMPARE(user.value("alterId").toInt(-1), 0);
    const QJsonObject stream = vmess.value("streamSettings").toObject();
    QCOMPARE(stream.value("network").toString(), QStringLiteral("ws"));
    QCOMPARE(stream.value("security").toString(), QStringLiteral("tls"));
    QCOMPARE(stream.value("wsSettings").toObject().value("path").toString(), QStringLiteral("/ws-path"));
    QCOMPARE(stream.value("tlsSettings").toObject().value("allowInsecure"), QJsonValue(true));

    const QJsonObject dns = outbounds.at(1).toObject();
    QCOMPARE(dns.value("protocol").toString(), QStringLiteral("dns"));
    const QJsonObject dnsSettings = dns.value("settings").toObject();
    QCOMPARE(dnsSettings.value("network").toString(), QStringLiteral("tcp"));
    QCOMPARE(dnsSettings.value("address").toString(), QStringLiteral("1.1.1.1"));
    QCOMPARE(dnsSettings.value("port").toInt(), 53);
}

void TestOvpnTemplates::proxyTemplateAcceptedByV2Ray()
{
    const QString v2ray = QStandardPaths::findExecutable(QStringLiteral("v2ray"));
    if (v2ray.isEmpty())
        QSKIP("v2ray is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString config = dir.filePath(QStringLiteral("proxy.json"));
    QFile f(config);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(filledProxyTemplate());
    f.close();

    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(v2ray, { QStringLiteral("-test"), QStringLiteral("-config"), config });
    QVERIFY(p.waitForStarted(5000));
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(5000);
        QFAIL("v2ray -test did not finish");
    }
    const QByteArray output = p.readAll();
    QVERIFY2(p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0, output.constData());
    QVERIFY2(output.contains("Configuration OK"), output.constData());
}

OSTREL_TEST_MAIN(TestOvpnTemplates, TestMain::Core)
#include "tst_ovpntemplates.moc"
