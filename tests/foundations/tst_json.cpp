#include "testsupport.h"

#include "qt-json/json.h"

#include <cmath>
#include <limits>

class TestJson : public QObject
{
    Q_OBJECT

private slots:
    void lenientStructures()
    {
        bool ok = false;
        QVariant v = QtJson::parse(QStringLiteral("{\"a\": 1 \"b\": [1,,2,]}"), ok);
        QVERIFY(ok);
        QVariantMap map = v.toMap();
        QCOMPARE(map.value(QStringLiteral("a")).toInt(), 1);
        QCOMPARE(map.value(QStringLiteral("b")).toList().size(), 2);

        v = QtJson::parse(QStringLiteral("  {\"x\":\"y\"} trailing letters ]]]"), ok);
        QVERIFY(ok);
        QCOMPARE(v.toMap().value(QStringLiteral("x")).toString(), QStringLiteral("y"));

        v = QtJson::parse(QStringLiteral("{\"k\":1,\"k\":2}"), ok);
        QVERIFY(ok);
        QCOMPARE(v.toMap().value(QStringLiteral("k")).toInt(), 2);

        v = QtJson::parse(QStringLiteral("[,,,]"), ok);
        QVERIFY(ok);
        QVERIFY(v.toList().isEmpty());
    }

    void keywords_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("true") << "true" << true << QVariant(true);
        QTest::newRow("true followed by a letter") << "truex" << true << QVariant(true);
        QTest::newRow("false") << "false" << true << QVariant(false);
        QTest::newRow("null") << "null" << true << QVariant();
        QTest::newRow("nul") << "nul" << false << QVariant();
        QTest::newRow("tru") << "tru" << false << QVariant();
        QTest::newRow("empty") << "" << false << QVariant();
        QTest::newRow("blank") << " \t\r\n" << false << QVariant();
        QTest::newRow("closing bracket") << "]" << false << QVariant();
        QTest::newRow("upper case") << "TRUE" << false << QVariant();
    }

    void keywords()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QVariant, value);
        bool success = !ok;
        const QVariant v = QtJson::parse(text, success);
        QCOMPARE(success, ok);
        if (ok)
            QCOMPARE(v, value);
    }

    void nullTextIsEmptySuccess()
    {
        bool ok = false;
        QVERIFY(!QtJson::parse(QString(), ok).isValid());
        QVERIFY(ok);
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("type");
        QTest::addColumn<QVariant>("value");
        QTest::newRow("-5 int") << "-5" << int(QMetaType::Int) << QVariant(-5);
        QTest::newRow("5 uint") << "5" << int(QMetaType::UInt) << QVariant(5u);
        QTest::newRow("2^32 qulonglong") << "4294967296" << int(QMetaType::ULongLong)
                                         << QVariant(Q_UINT64_C(4294967296));
        QTest::newRow("-2^40 qlonglong") << "-1099511627776" << int(QMetaType::LongLong)
                                         << QVariant(Q_INT64_C(-1099511627776));
        QTest::newRow("-1.5 double") << "-1.5" << int(QMetaType::Double) << QVariant(-1.5);
        QTest::newRow("1e5 text") << "1e5" << int(QMetaType::QString) << QVariant(QStringLiteral("1e5"));
        QTest::newRow("1E-3 text") << "1E-3" << int(QMetaType::QString) << QVariant(QStringLiteral("1E-3"));
        QTest::newRow("beyond 64 bits") << "123456789012345678901234567890" << int(QMetaType::QString)
                                        << QVariant(QStringLiteral("123456789012345678901234567890"));
        QTest::newRow("bad double") << "1.2.3" << int(QMetaType::Double) << QVariant(0.0);
        QTest::newRow("minus alone") << "-" << int(QMetaType::QString) << QVariant(QStringLiteral("-"));
    }

    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(int, type);
        QFETCH(QVariant, value);
        bool ok = false;
        const QVariant v = QtJson::parse(QStringLiteral("[") + text + QStringLiteral("]"), ok).toList().value(0);
        QVERIFY(ok);
        QCOMPARE(v.userType(), type);
        QCOMPARE(v, value);
    }

    void strings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("value");
        QTest::newRow("escapes") << "\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\"" << true << "a\"b\\c/d\b\f\n\r\t";
        QTest::newRow("unicode") << "\"\\u00e9\\u20AC\"" << true << QString::fromUtf8("é€");
        QTest::newRow("surrogate pair") << "\"\\ud83d\\ude00\"" << true << QString::fromUtf8("😀");
        QTest::newRow("non-hex unicode") << "\"x\\uzzzzy\"" << true << QString(QLatin1Char('x')) + QChar(0) + "y";
        QTest::newRow("unknown escape dropped") << "\"a\\qb\"" << true << "ab";
        QTest::newRow("raw utf-8") << QString::fromUtf8("\"Zürich – 東京\"") << true
                                   << QString::fromUtf8("Zürich – 東京");
        QTest::newRow("no closing quote") << "\"abc" << false << "";
        QTest::newRow("ends inside escape") << "\"abc\\" << false << "";
        QTest::newRow("short unicode") << "\"\\u12" << false << "";
    }

    void strings()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(QString, value);
        bool success = !ok;
        const QVariant v = QtJson::parse(text, success);
        QCOMPARE(success, ok);
        if (ok)
            QCOMPARE(v.toString(), value);
    }

    void malformedObjects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("unterminated object") << "{\"a\":1";
        QTest::newRow("unterminated array") << "[1,2";
        QTest::newRow("missing colon") << "{\"a\" 1}";
        QTest::newRow("missing value") << "{\"a\":}";
        QTest::newRow("key without quotes") << "{abc:1}";
        QTest::newRow("bad nested value") << "[1, {\"x\": nope}]";
    }

    void malformedObjects()
    {
        QFETCH(QString, text);
        bool ok = true;
        QtJson::parse(text, ok);
        QVERIFY(!ok);
    }

    void deepNestingFailsCleanly()
    {
        bool ok = true;
        QtJson::parse(QString(100000, QLatin1Char('[')), ok);
        QVERIFY(!ok);
        ok = true;
        QtJson::parse(QString(100000, QLatin1Char('{')) + QStringLiteral("\"a\":1"), ok);
        QVERIFY(!ok);
        ok = true;
        QString alternating;
        for (int i = 0; i < 50000; ++i)
            alternating += QStringLiteral("{\"a\":[");
        QtJson::parse(alternating, ok);
        QVERIFY(!ok);

        // Within the limit nesting is fine.
        const int depth = QtJson::MaxNestingDepth;
        ok = false;
        const QVariant v = QtJson::parse(QString(depth, QLatin1Char('[')) + QString(depth, QLatin1Char(']')), ok);
        QVERIFY(ok);
        QCOMPARE(v.toList().size(), depth > 1 ? 1 : 0);
    }

    void writerForms()
    {
        QCOMPARE(QtJson::serialize(QVariant()), QByteArray("null"));
        QCOMPARE(QtJson::serialize(QVariantList()), QByteArray("[  ]"));
        QCOMPARE(QtJson::serialize(QVariantMap()), QByteArray("{  }"));
        QCOMPARE(QtJson::serialize(QVariant(2.0)), QByteArray("2.0"));
        QCOMPARE(QtJson::serialize(QVariant(0.1)), QByteArray("0.10000000000000000555"));
        QCOMPARE(QtJson::serialize(QVariant(1e21)), QByteArray("1e+21"));
        QCOMPARE(QtJson::serialize(QVariant(true)), QByteArray("true"));
        QCOMPARE(QtJson::serialize(QVariant(-7)), QByteArray("-7"));
        QCOMPARE(QtJson::serialize(QVariant(Q_UINT64_C(18446744073709551615))), QByteArray("18446744073709551615"));
        QCOMPARE(QtJson::serialize(QVariant(QStringList({ "a", "b" }))), QByteArray("[ \"a\", \"b\" ]"));

        QVariantMap map;
        map[QStringLiteral("z")] = 1;
        map[QStringLiteral("a")] = QVariantList({ QStringLiteral("x"), QVariant() });
        QCOMPARE(QtJson::serialize(map), QByteArray("{ \"a\" : [ \"x\", null ], \"z\" : 1 }"));

        const QString tricky = QStringLiteral("q\"b\\s/\b\f\n\r\t é") + QChar(1);
        QCOMPARE(QtJson::serialize(QVariant(tricky)),
                 QByteArray("\"q\\\"b\\\\s/\\b\\f\\n\\r\\t ") + QString::fromUtf8("é").toUtf8() + QByteArray("\x01\""));
        QCOMPARE(QtJson::serializeStr(QVariant(QStringLiteral("€"))), QStringLiteral("\"€\""));
        // A NUL inside a string survives the text form.
        const QString withNul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
        QCOMPARE(QtJson::serializeStr(QVariant(withNul)), QStringLiteral("\"") + withNul + QStringLiteral("\""));
        QCOMPARE(QtJson::parse(QtJson::serializeStr(QVariantList({ withNul }))).toList().value(0).toString(), withNul);
    }

    void writerFailures()
    {
        QVariantMap map;
        map[QStringLiteral("bad")] = std::numeric_limits<double>::quiet_NaN();
        bool ok = true;
        const QByteArray out = QtJson::serialize(map, ok);
        QVERIFY(!ok);
        QVERIFY(out.isNull());
        ok = true;
        QtJson::serialize(QVariantList({ 1, std::numeric_limits<double>::infinity() }), ok);
        QVERIFY(!ok);
        ok = true;
        QtJson::serialize(QVariant::fromValue(QSizeF(1, 2)), ok);
        QVERIFY(!ok);
    }

    void roundTrip()
    {
        QVariantMap inner;
        inner[QStringLiteral("ip")] = QStringLiteral("10.0.0.1");
        inner[QStringLiteral("load")] = 12.5;
        inner[QStringLiteral("text")] = QStringLiteral("line\n\"quoted\"\\");
        QVariantMap doc;
        doc[QStringLiteral("servers")] = QVariantList({ inner, inner });
        doc[QStringLiteral("count")] = 2;
        bool ok = false;
        const QVariant back = QtJson::parse(QtJson::serializeStr(doc), ok);
        QVERIFY(ok);
        const QVariantMap first = back.toMap().value(QStringLiteral("servers")).toList().value(0).toMap();
        QCOMPARE(first.value(QStringLiteral("text")).toString(), inner.value(QStringLiteral("text")).toString());
        QCOMPARE(first.value(QStringLiteral("load")).toDouble(), 12.5);
        QCOMPARE(back.toMap().value(QStringLiteral("count")).toInt(), 2);
    }
};

OSTREL_TEST_MAIN(TestJson, TestMain::Core)
#include "tst_json.moc"
