// Proxy locations, DNS-filtering choices, news, help items and the
// preference option list.

#include "model/dnsfiltering.h"
#include "model/helpsection.h"
#include "model/news.h"
#include "model/proxylocation.h"
#include "model/settingoptionmodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>

namespace {

ProxyLocation::Ptr makeProxy(const QString& id, const QString& caption = QString())
{
    return ProxyLocation::Ptr(new ProxyLocation(id, caption, "10.1.1.1", "443", "user", "0", "/ws"));
}

News::Ptr makeNews(const QString& id)
{
    return News::Ptr(new News(id));
}

QList<SettingOption::Ptr> makeOptions(const QString& prefix, int n)
{
    QList<SettingOption::Ptr> options;
    for (int i = 0; i < n; ++i)
        options << SettingOption::Ptr(
            new SettingOption(false, prefix + QString::number(i), false, true, true, "caption"));
    return options;
}

} // namespace

class TestItems : public QObject
{
    Q_OBJECT

private slots:
    void proxyCountryCodes_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("explicitCode");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("two letters") << "nl"
                                     << ""
                                     << "nl"
                                     << "";
        QTest::newRow("four letters") << "nlde"
                                      << ""
                                      << "nl"
                                      << "de";
        QTest::newRow("hyphen as second code") << "nl-x5"
                                               << ""
                                               << "nl"
                                               << "-x";
        QTest::newRow("digit in third place") << "nl1de"
                                              << ""
                                              << "nl"
                                              << "";
        QTest::newRow("digit id") << "12"
                                  << ""
                                  << ""
                                  << "";
        QTest::newRow("explicit code wins") << "cfproxy"
                                            << "us"
                                            << "us"
                                            << "pr";
        QTest::newRow("explicit code, digit id") << "1"
                                                 << "de"
                                                 << "de"
                                                 << "";
    }

    void proxyCountryCodes()
    {
        QFETCH(QString, id);
        QFETCH(QString, explicitCode);
        QFETCH(QString, first);
        QFETCH(QString, second);
        const ProxyLocation::Ptr proxy = makeProxy(id);
        QSignalSpy spy(proxy.data(), &ProxyLocation::firstCountryCodeChanged);
        proxy->setFirstCountryCode(explicitCode);
        QCOMPARE(spy.count(), explicitCode.isEmpty() ? 0 : 1);
        QCOMPARE(proxy->firstCountryCode(), first);
        QCOMPARE(proxy->secondCountryCode(), second);
    }

    void proxyMergeTakesCaptionOnly()
    {
        ProxyLocationModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        const ProxyLocation::Ptr nl = makeProxy("nl", "Netherlands");
        model.setList({ makeProxy("1", "No proxy"), nl });
        const ProxyLocation::Ptr fresh(new ProxyLocation("nl", "Amsterdam", "10.9.9.9", "8443", "u2", "1", "/x"));
        model.merge({ fresh, makeProxy("de") });
        QCOMPARE(model.getCount(), 2);
        QCOMPARE(model.elem(0), nl);
        QCOMPARE(nl->caption(), QStringLiteral("Amsterdam"));
        QCOMPARE(nl->address(), QStringLiteral("10.1.1.1"));
        QCOMPARE(model.roleNames().value(0), QByteArray("itemPtr"));
    }

    void dnsFilteringIds()
    {
        const DNSFiltering streaming("SecureDNS + local streaming", Constants::DNSFiltering_secureDNS_localStreaming);
        QCOMPARE(streaming.id(), QStringLiteral("2"));
        QCOMPARE(streaming.dnsFiltering(), Constants::DNSFiltering_secureDNS_localStreaming);
        const DNSFiltering none;
        QCOMPARE(none.id(), QString());
        QCOMPARE(none.dnsFiltering(), Constants::DNSFiltering_disabled);

        DNSFilteringModel model;
        model.setList({ DNSFiltering::Ptr(new DNSFiltering("Disabled", Constants::DNSFiltering_disabled)),
                        DNSFiltering::Ptr(new DNSFiltering("SecureDNS", Constants::DNSFiltering_secureDNS)) });
        QCOMPARE(model.find("1")->caption(), QStringLiteral("SecureDNS"));
    }

    void newsDateIsStartOfLocalDay()
    {
        const News news("7", QDate(2023, 3, 14), "headline", "https://example.invalid/n/7");
        QCOMPARE(news.date().time(), QTime(0, 0));
        QCOMPARE(news.date().date(), QDate(2023, 3, 14));
        QCOMPARE(news.date().timeSpec(), Qt::LocalTime);

        News later("7");
        QSignalSpy dateSpy(&later, &News::dateChanged);
        later.update(news);
        later.update(news);
        QCOMPARE(dateSpy.count(), 1);
        QCOMPARE(later.text(), QStringLiteral("headline"));
        QCOMPARE(later.url(), news.url());
    }

    void newsMaxId_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<int>("maxId");
        QTest::newRow("mixed") << QStringList({ "3", "10", "latest" }) << 10;
        QTest::newRow("none") << QStringList() << 0;
        QTest::newRow("negative only") << QStringList({ "-4", "-1" }) << 0;
        QTest::newRow("not decimal") << QStringList({ "0x20", "9" }) << 9;
    }

    void newsMaxId()
    {
        QFETCH(QStringList, ids);
        QFETCH(int, maxId);
        NewsModel model;
        QList<News::Ptr> list;
        for (const QString& id : ids)
            list << makeNews(id);
        model.setList(list);
        QCOMPARE(model.getMaxId(), maxId);
    }

    void helpNamesFollowIds()
    {
        HelpSection section("Setup", "how to start");
        QSignalSpy idSpy(&section, &HelpSection::idChanged);
        QSignalSpy nameSpy(&section, &HelpSection::nameChanged);
        section.setName("Getting started");
        QCOMPARE(section.id(), QStringLiteral("Getting started"));
        QCOMPARE(idSpy.count(), 1);
        QCOMPARE(nameSpy.value(0).value(0).toString(), QStringLiteral("Getting started"));

        const HelpItem::Ptr item(new HelpItem("FAQ", "https://example.invalid/faq", "more"));
        section.items()->setList({ item });
        QCOMPARE(section.property("items").value<HelpItemModel*>()->find("FAQ"), item);

        item->update(HelpItem("FAQ", "https://example.invalid/faq2", "other"));
        QCOMPARE(item->url(), QStringLiteral("https://example.invalid/faq2"));
        QCOMPARE(item->moreText(), QStringLiteral("more"));
    }

    void optionModelCount()
    {
        SettingOptionModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy countSpy(&model, &SettingOptionModel::onCountChangedLocal);
        QSignalSpy resetSpy(&model, &QAbstractItemModel::modelReset);
        const QList<SettingOption::Ptr> options = makeOptions("optionA", 7);
        model.setList(options);
        QCOMPARE(countSpy.count(), 1);
        QCOMPARE(countSpy.at(0).at(0).toInt(), 7);
        model.setList(makeOptions("optionB", 7));
        QCOMPARE(countSpy.count(), 1);
        QCOMPARE(resetSpy.count(), 2);
        QCOMPARE(model.property("count").toInt(), 7);
        QVERIFY(model.find("optionA3").isNull());
        QCOMPARE(model.find("optionB3")->key(), QStringLiteral("optionB3"));
    }
};

OSTREL_TEST_MAIN(TestItems)
#include "tst_items.moc"
