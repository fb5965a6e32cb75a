// QML type registration, the compiled QML tree and the shared components.

#include "model/constants.h"
#include "resources.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QFont>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

// What the singletons read from the model: the skin type and the display
// scale.
class SkinTypeHolder : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int skinType READ skinType WRITE setSkinType NOTIFY skinTypeChanged)
    Q_PROPERTY(double kDpi READ kDpi CONSTANT)
public:
    double kDpi() const { return 1.0; }
    int skinType() const { return m_skinType; }
    void setSkinType(int skinType)
    {
        if (m_skinType == skinType)
            return;
        m_skinType = skinType;
        emit skinTypeChanged();
    }
signals:
    void skinTypeChanged();

private:
    int m_skinType = Constants::SkinType_standart;
};

// Items by object name in the visual tree (list delegates have no QObject
// parent, so findChildren() misses them).
QList<QQuickItem*> findItems(QQuickItem* root, const QString& objectName)
{
    QList<QQuickItem*> found;
    const QList<QQuickItem*> children = root->childItems();
    for (QQuickItem* child : children) {
        if (child->objectName() == objectName)
            found << child;
        found << findItems(child, objectName);
    }
    return found;
}

} // namespace

class TestQmlComponents : public QObject
{
    Q_OBJECT

private:
    QQmlEngine* m_engine = nullptr;
    SkinTypeHolder m_holder;
    QList<QQmlError> m_warnings;

    // Creates an object from QML text; fails the test on any error.
    QObject* create(const QByteArray& qml)
    {
        QQmlComponent component(m_engine);
        component.setData(qml, QUrl(QStringLiteral("qrc:/qml/test.qml")));
        QObject* object = component.create();
        if (!object)
            qWarning() << component.errors();
        return object;
    }

private slots:
    void initTestCase() { initResources(); }

    void init()
    {
        m_engine = new QQmlEngine(this);
        m_engine->rootContext()->setContextProperty(QStringLiteral("viewmodel"), &m_holder);
        m_holder.setSkinType(Constants::SkinType_standart);
        m_warnings.clear();
        connect(m_engine, &QQmlEngine::warnings, this, [this](const QList<QQmlError>& w) { m_warnings << w; });
    }

    void cleanup()
    {
        delete m_engine;
        m_engine = nullptr;
        if (!m_warnings.isEmpty())
            qWarning() << m_warnings;
        QVERIFY(m_warnings.isEmpty());
    }

    void domainTypesAreUncreatable_data()
    {
        QTest::addColumn<QString>("name");
        for (const char* name : { "Constants",
                                  "Model",
                                  "Protocol",
                                  "ProtocolModel",
                                  "Port",
                                  "PortModel",
                                  "Location",
                                  "LocationModel",
                                  "LocationFavoriteModel",
                                  "News",
                                  "NewsModel",
                                  "HelpSection",
                                  "HelpSectionModel",
                                  "HelpItem",
                                  "HelpItemModel",
                                  "Region",
                                  "RegionModel",
                                  "SettingOption",
                                  "SettingOptionModel",
                                  "Downloader" })
            QTest::newRow(name) << QString::fromLatin1(name);
    }

    void domainTypesAreUncreatable()
    {
        QFETCH(QString, name);
        QQmlComponent component(m_engine);
        component.setData(QStringLiteral("import Ostrel.Domain 1.0\n%1 {}\n").arg(name).toUtf8(), QUrl());
        QVERIFY(component.isError());
        QVERIFY2(component.errorString().contains(QStringLiteral("Type %1 cannot be created").arg(name)),
                 qPrintable(component.errorString()));
    }

    void enumerationsReachQml()
    {
        QScopedPointer<QObject> object(create("import QtQml 2.2\nimport Ostrel.Domain 1.0\n"
                                              "QtObject { property var values: [Constants.SkinType_light, "
                                              "Constants.Protocol_UDP, Constants.ConnectState_Connecting] }"));
        QVERIFY(object);
        QCOMPARE(object->property("values").toList(),
                 QVariantList({ int(Constants::SkinType_light), int(Constants::Protocol_UDP),
                                int(Constants::ConnectState_Connecting) }));
    }

    void lineItemsAreCreatable()
    {
        QScopedPointer<QObject> object(
            create("import QtQuick 2.11\nimport CustomComponents 1.0\n"
                   "Item { Line { objectName: 'line'; x1: 10; y1: 20; x2: 4; y2: 30; penWidth: 3 }\n"
                   "LineWithArrow { objectName: 'arrow'; arrowX: 5.5 } }"));
        QVERIFY(object);
        QObject* line = object->findChild<QObject*>(QStringLiteral("line"));
        QVERIFY(line);
        QCOMPARE(line->property("x").toReal(), 3.0);
        QCOMPARE(line->property("height").toReal(), 13.0);
        QObject* arrow = object->findChild<QObject*>(QStringLiteral("arrow"));
        QVERIFY(arrow);
        QCOMPARE(arrow->property("arrowX").toDouble(), 5.5);
    }

    // Every QML file of the tree compiles: its imports and types resolve.
    void everyQmlFileCompiles()
    {
        int files = 0;
        QDirIterator it(QStringLiteral(":/qml"), { QStringLiteral("*.qml") }, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QQmlComponent component(m_engine, QUrl(QStringLiteral("qrc") + path));
            QVERIFY2(component.isReady(), qPrintable(path + QStringLiteral(": ") + component.errorString()));
            ++files;
        }
        QVERIFY(files > 60);
        QVERIFY(QFile::exists(QStringLiteral(":/qml/main.qml")));
        QVERIFY(QFile::exists(QStringLiteral(":/qml/singletons/qmldir")));
    }

    void imageAddressesFollowTheSkin_data()
    {
        QTest::addColumn<int>("skinType");
        QTest::addColumn<QString>("png");
        QTest::addColumn<QString>("page");
        QTest::newRow("dark") << int(Constants::SkinType_standart) << "qrc:///standart_skin/refresh.png"
                              << "qrc:///qml/skins/standart/X.qml";
        QTest::newRow("light palette") << int(Constants::SkinType_standart_light)
                                       << "qrc:///standart_skin/light/refresh.png"
                                       << "qrc:///qml/skins/standart/X.qml";
        QTest::newRow("light skin") << int(Constants::SkinType_light) << "qrc:///light_skin/refresh.png"
                                    << "qrc:///qml/skins/light/X.qml";
        QTest::newRow("unknown") << int(Constants::SkinType_UNKNOWN) << "???"
                                 << "???";
    }

    void imageAddressesFollowTheSkin()
    {
        QFETCH(int, skinType);
        QFETCH(QString, png);
        QFETCH(QString, page);
        QScopedPointer<QObject> object(create("import QtQml 2.2\nimport \"singletons\"\n"
                                              "QtObject { property string png: Resources.png('refresh');"
                                              " property string page: Resources.qml('X');"
                                              " property string flag: Resources.flag('de') }"));
        QVERIFY(object);
        m_holder.setSkinType(skinType);
        QCOMPARE(object->property("png").toString(), png);
        QCOMPARE(object->property("page").toString(), page);
        QCOMPARE(object->property("flag").toString(), QStringLiteral("qrc:///Images/flags/de.png"));
        // Whatever the skin names must be there.
        if (png != QLatin1String("???"))
            QVERIFY(QFile::exists(QUrl(png).path().prepend(':')));
    }

    void paletteFollowsTheSkin()
    {
        QScopedPointer<QObject> object(create("import QtQml 2.2\nimport \"singletons\"\n"
                                              "QtObject { property color bg: Style.backgroundColor2;"
                                              " property color text: Style.text_color_1 }"));
        QVERIFY(object);
        const QColor darkBackground = object->property("bg").value<QColor>();
        const QColor darkText = object->property("text").value<QColor>();
        m_holder.setSkinType(Constants::SkinType_standart_light);
        const QColor lightBackground = object->property("bg").value<QColor>();
        const QColor lightText = object->property("text").value<QColor>();
        QVERIFY(darkBackground.lightness() < 64);
        QVERIFY(lightBackground.lightness() > 192);
        QVERIFY(darkText.lightness() > lightText.lightness());
    }

    // Snippets run one after the other, in the order given.
    void promisesRunInOrder()
    {
        QScopedPointer<QObject> object(
            create("import QtQuick 2.11\nimport \"components\"\n"
                   "Item { id: root; property string trace: ''\n"
                   "PromiseTimer { id: timer; objectName: 'timer'; debug: false; item: root }\n"
                   "function go() {\n"
                   "  timer.executePromise(\"item.trace += 'a' + executing\")\n"
                   "  timer.executePromise(\"item.trace += 'b'\")\n"
                   "  root.trace += '0' } }"));
        QVERIFY(object);
        QMetaObject::invokeMethod(object.data(), "go");
        QTRY_COMPARE_WITH_TIMEOUT(object->property("trace").toString(), QStringLiteral("0atrueb"), 5000);
        QCOMPARE(object->findChild<QObject*>(QStringLiteral("timer"))->property("executeCount").toInt(), 2);
    }

    void messageBoxDetails()
    {
        QScopedPointer<QObject> object(create("import QtQuick 2.11\nimport \"components\"\n"
                                              "MessageBox { width: 400; height: 600 }"));
        QVERIFY(object);
        QObject* details = object->findChild<QObject*>(QStringLiteral("MessageBox_details"));
        QVERIFY(details);
        QMetaObject::invokeMethod(object.data(), "showMessageBox", Q_ARG(QVariant, QStringLiteral("VPN disconnected")),
                                  Q_ARG(QVariant, QString()));
        QVERIFY(object->property("visible").toBool());
        QCOMPARE(object->findChild<QObject*>(QStringLiteral("MessageBox_text"))->property("text").toString(),
                 QStringLiteral("VPN disconnected"));
        QVERIFY(!details->property("visible").toBool());
        QMetaObject::invokeMethod(object.data(), "showMessageBox", Q_ARG(QVariant, QStringLiteral("Failed")),
                                  Q_ARG(QVariant, QStringLiteral("no route")));
        QVERIFY(details->property("visible").toBool());
        QMetaObject::invokeMethod(object.data(), "close");
        QTRY_VERIFY_WITH_TIMEOUT(!object->property("visible").toBool(), 5000);
    }

    // The switches and layout aids that no page uses yet.
    void spareComponents()
    {
        QScopedPointer<QObject> object(create(
            "import QtQuick 2.11\nimport \"components\"\n"
            "Item { width: 400; height: 600; property var toggles: []; property int asks: 0\n"
            "  OnOffButton { objectName: 'onoff'; width: 80; height: 40; onToggled: toggles = toggles.concat([checked]) }\n"
            "  OnOffButton2 { objectName: 'onoff2'; y: 100; width: 80; height: 40; onClicked: asks++ }\n"
            "  SizeRectangle { objectName: 'size'; y: 200; width: 120.4; height: 40 }\n"
            "  BoundsRect { objectName: 'bounds' }\n"
            "  RobotoTextTest { objectName: 'roboto'; y: 300; width: 400 } }"));
        QVERIFY(object);
        QQuickWindow window;
        auto* root = qobject_cast<QQuickItem*>(object.data());
        root->setParentItem(window.contentItem());
        window.resize(400, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto clickOn = [&](const char* name) {
            auto* target = object->findChild<QQuickItem*>(QString::fromLatin1(name));
            QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier,
                              target->mapToScene(QPointF(target->width() / 2, target->height() / 2)).toPoint());
        };
        const auto image = [&](const char* name) {
            return object->findChild<QObject*>(QString::fromLatin1(name))
                ->property("imageItem")
                .value<QObject*>()
                ->property("source")
                .toUrl()
                .toString();
        };

        QCOMPARE(image("onoff"), QStringLiteral("qrc:///standart_skin/btn_off.png"));
        clickOn("onoff");
        clickOn("onoff");
        clickOn("onoff");
        QCOMPARE(object->property("toggles").toList(), QVariantList({ true, false, true }));
        QCOMPARE(image("onoff"), QStringLiteral("qrc:///standart_skin/btn_on.png"));

        // The connection switch only asks; its owner sets the state.
        QObject* onoff2 = object->findChild<QObject*>(QStringLiteral("onoff2"));
        clickOn("onoff2");
        QCOMPARE(object->property("asks").toInt(), 1);
        QVERIFY(!onoff2->property("checked").toBool());
        onoff2->setProperty("inProcess", true);
        QCOMPARE(image("onoff2"), QStringLiteral("qrc:///standart_skin/btn_on_process.png"));

        QCOMPARE(object->findChild<QObject*>(QStringLiteral("size"))->property("sizeText").toString(),
                 QStringLiteral("120 x 40"));
        QObject* bounds = object->findChild<QObject*>(QStringLiteral("bounds"));
        QVERIFY(!bounds->property("visible").toBool());
        bounds->setProperty("debug", true);
        QVERIFY(bounds->property("visible").toBool());

        // One line per Roboto face, each in the face's loaded family.
        QList<QQuickItem*> samples;
        for (const char* face : { "regular", "medium", "bold", "black", "italic", "blackItalic", "thin" })
            samples << findItems(root, QStringLiteral("RobotoSample_") + QLatin1String(face));
        QCOMPARE(samples.size(), 7);
        for (QQuickItem* sample : samples)
            QTRY_COMPARE(sample->property("font").value<QFont>().family(), QStringLiteral("Roboto"));
    }

    // A row the callbacks call unavailable says so and cannot be chosen.
    void selectorUnavailableItems()
    {
        QScopedPointer<QObject> object(
            create("import QtQuick 2.11\nimport \"components\"\n"
                   "ItemsSelector { width: 400; height: 600; property var chosen: []\n"
                   "  itemModel: ListModel { ListElement { name: 'UDP-53' } ListElement { name: 'TCP-80' } }\n"
                   "  delegate: Component { Item {\n"
                   "    function getCaptionString() { return row.name }\n"
                   "    function getId() { return row.name }\n"
                   "    function getAvailable() { return row.name.indexOf('UDP') !== 0 } } }\n"
                   "  onSelected: chosen = chosen.concat([selectedItemId]) }"));
        QVERIFY(object);
        // A list view fills in only inside a window.
        QQuickWindow window;
        auto* selector = qobject_cast<QQuickItem*>(object.data());
        selector->setParentItem(window.contentItem());
        window.resize(400, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QMetaObject::invokeMethod(object.data(), "showView");
        QTRY_COMPARE_WITH_TIMEOUT(findItems(selector, QStringLiteral("SelectorItemCaption")).size(), 2, 5000);
        QStringList captions;
        for (QQuickItem* caption : findItems(selector, QStringLiteral("SelectorItemCaption")))
            captions << caption->property("text").toString();
        captions.sort();
        QCOMPARE(captions, QStringList({ "TCP-80", "UDP-53 (unavailable)" }));

        // Click every row where the user would, once the panel slid in.
        QTRY_COMPARE_WITH_TIMEOUT(object->findChild<QQuickItem*>(QStringLiteral("SelectorPanel"))->x(), 0.0, 5000);
        for (QQuickItem* caption : findItems(selector, QStringLiteral("SelectorItemCaption"))) {
            const QPointF centre = caption->mapToScene(QPointF(caption->width() / 2, caption->height() / 2));
            QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
        }
        // Only the available row reaches the selector's owner.
        QCOMPARE(object->property("chosen").toStringList(), QStringList({ "TCP-80" }));
    }
};

OSTREL_TEST_MAIN(TestQmlComponents)
#include "tst_qmlcomponents.moc"
