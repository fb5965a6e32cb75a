// The compiled-in resource trees: every path the program and its QML name is
// there and loads as what it is (image, animation, font, text).

#include "resources.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QFontDatabase>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QRawFont>
#include <QResource>
#include <QScopedPointer>

namespace {

const char* const kCountryCodes =
    "ad ae af ag ai al am an ao ar as at au aw ax az ba bb bd be bf bg bh bi bj bm bn bo br bs bt bv bw by bz "
    "ca cc cd cf cg ch ci ck cl cm cn co cr cs cu cv cx cy cz de dj dk dm do dz ec ee eg eh er es et fi fj fk "
    "fm fo fr ga gb gd ge gf gh gi gl gm gn gp gq gr gs gt gu gw gy hk hm hn hr ht hu id ie il in io iq ir is "
    "it jm jo jp ke kg kh ki km kn kp kr kw ky kz la lb lc li lk lr ls lt lu lv ly ma mc md me mg mh mk ml mm "
    "mn mo mp mq mr ms mt mu mv mw mx my mz na nc ne nf ng ni nl no np nr nu nz om pa pe pf pg ph pk pl pm pn "
    "pr ps pt pw py qa re ro rs ru rw sa sb sc sd se sg sh si sj sk sl sm sn so sr st sv sy sz tc td tf tg th "
    "tj tk tl tm tn to tr tt tv tw tz ua ug uk um us uy uz va vc ve vg vi vn vu wf ws ye yt za zm zw";

const QStringList kSkinRasters = { "back_arrow",
                                   "btn_off",
                                   "btn_on",
                                   "btn_on_process",
                                   "category_down",
                                   "category_up",
                                   "combobox_dropdown",
                                   "earth",
                                   "flag",
                                   "footer_advanced_blue",
                                   "footer_advanced_orange",
                                   "footer_connect_blue",
                                   "footer_connect_orange",
                                   "footer_help_blue",
                                   "footer_help_orange",
                                   "footer_news_blue",
                                   "footer_news_orange",
                                   "footer_preferences_blue",
                                   "footer_preferences_orange",
                                   "header_close",
                                   "header_logo",
                                   "header_maximize",
                                   "header_minimize",
                                   "refresh",
                                   "ostrel-logo" };
const QStringList kDarkOnlyRasters = { "back_circle", "on_of_dots" };

const QStringList kSkinVectors = { "gear",
                                   "gear_selected",
                                   "keyboard-right-arrow-button",
                                   "logo",
                                   "logokelvaran",
                                   "news",
                                   "news_selected",
                                   "path",
                                   "pin_left",
                                   "power",
                                   "power2",
                                   "power_selected",
                                   "question",
                                   "question_selected",
                                   "star_2",
                                   "star_2_selected",
                                   "user",
                                   "user_selected" };

QStringList filesUnder(const QString& dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

// Number of pixels that are not fully transparent.
int paintedPixels(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(line[x]) > 0)
                ++count;
    }
    return count;
}

} // namespace

class TestResourceTrees : public QObject
{
    Q_OBJECT

private:
    QList<QPair<QString, QImage>> m_sheet; // every image seen, for the contact sheet
    void remember(const QString& path, const QImage& image) { m_sheet.append({ path, image }); }

private slots:
    void initTestCase();
    void registrationIsIdempotent();
    void windowAndTrayImages_data();
    void windowAndTrayImages();
    void animations_data();
    void animations();
    void flags();
    void skinRasters_data();
    void skinRasters();
    void skinVectors_data();
    void skinVectors();
    void treesHoldNothingElse();
    void fonts_data();
    void fonts();
    void onlyTheIconAndTheDnsScriptAreCompressed();
    void scriptsAreTheInstalledOnes_data();
    void scriptsAreTheInstalledOnes();
    void qmlFindsEveryKindByQrcUrl();
    void cleanupTestCase();
};

void TestResourceTrees::initTestCase()
{
    initResources();
}

void TestResourceTrees::registrationIsIdempotent()
{
    const QStringList before = filesUnder(QStringLiteral(":/"));
    initResources();
    initResources();
    QCOMPARE(filesUnder(QStringLiteral(":/")), before);
    QVERIFY(QFile::exists(QStringLiteral(":/ovpnconfs/tcp-128.ovpn")));
    QVERIFY(QFile::exists(QStringLiteral(":/fonts/roboto/Roboto-Regular.ttf")));
}

void TestResourceTrees::windowAndTrayImages_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    const QString d = QStringLiteral(":/MainWindow/Images/");
    QTest::newRow("window icon") << d + "ostrel.ico" << QSize(128, 128);
    QTest::newRow("tray disconnected coloured") << d + "ostrel-red.png" << QSize(24, 24);
    QTest::newRow("tray connected") << d + "vpn-black.png" << QSize(39, 35);
    QTest::newRow("tray disconnected") << d + "vpn-grey.png" << QSize(39, 35);
    QTest::newRow("menu tick") << d + "checked.png" << QSize(64, 64);
    QTest::newRow("logo") << d + "Logo.png" << QSize(125, 36);
    QTest::newRow("red icon") << d + "IconRed.ico" << QSize(24, 24);
    QTest::newRow("grey mark") << d + "ostrel-gray.png" << QSize(24, 24);
    QTest::newRow("white mark") << d + "ostrel-white.png" << QSize(24, 24);
    QTest::newRow("white tray") << d + "vpn-white.png" << QSize(39, 35);
}

void TestResourceTrees::windowAndTrayImages()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QImageReader reader(path);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(path + ": " + reader.errorString()));
    QCOMPARE(image.size(), size);
    QVERIFY2(image.hasAlphaChannel(), "tray and window icons need transparency");
    // Drawn, but not a filled rectangle.
    const int painted = paintedPixels(image);
    QVERIFY(painted > size.width() * size.height() / 10);
    QVERIFY(painted < size.width() * size.height());
    remember(path, image);
}

void TestResourceTrees::animations_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::newRow("connecting switch") << ":/standart_skin/onoffbunton-connecting.gif" << QSize(213, 74);
    QTest::newRow("wait") << ":/MainWindow/Images/wait.gif" << QSize(32, 32);
}

void TestResourceTrees::animations()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QMovie movie(path);
    QVERIFY2(movie.isValid(), qPrintable(path));
    QVERIFY2(movie.frameCount() > 1, "an animation needs more than one frame");
    QVERIFY(movie.jumpToFrame(0));
    const QImage first = movie.currentImage();
    QCOMPARE(first.size(), size);
    bool changes = false;
    for (int i = 1; i < movie.frameCount() && !changes; ++i) {
        QVERIFY(movie.jumpToNextFrame());
        changes = movie.currentImage() != first;
    }
    QVERIFY2(changes, "every frame shows the same picture");
    QVERIFY(movie.nextFrameDelay() > 0);
    remember(path, first);
}

void TestResourceTrees::flags()
{
    QStringList names = QString::fromLatin1(kCountryCodes).split(' ');
    QCOMPARE(names.size(), 242);
    names << "catalonia"
          << "cloudflare"
          << "england"
          << "europeanunion"
          << "fam"
          << "scotland"
          << "wales";
    for (const QString& name : qAsConst(names)) {
        const QString path = QStringLiteral(":/Images/flags/") + name + QStringLiteral(".png");
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        // 16 x 11, less for the square and the pennant flags (ch, np), 12 high for me.
        QVERIFY2(image.width() >= 9 && image.width() <= 16 && image.height() >= 11 && image.height() <= 12,
                 qPrintable(path));
        if (name == QLatin1String("cloudflare") || name == QLatin1String("uk") || name == QLatin1String("de"))
            remember(path, image);
    }
    // "uk" is the same flag as "gb".
    QCOMPARE(QImage(":/Images/flags/uk.png"), QImage(":/Images/flags/gb.png"));
    QVERIFY(!QFile::exists(QStringLiteral(":/Images/flags/xx.png")));
    QVERIFY(QImage(QStringLiteral(":/Images/flags/xx.png")).isNull());
    QCOMPARE(filesUnder(QStringLiteral(":/Images/flags")).size(), 249);
}

void TestResourceTrees::skinRasters_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& name : kSkinRasters + kDarkOnlyRasters)
        QTest::newRow(qPrintable("dark " + name)) << ":/standart_skin/" + name + ".png";
    for (const QString& name : kSkinRasters)
        QTest::newRow(qPrintable("light " + name)) << ":/standart_skin/light/" + name + ".png";
}

void TestResourceTrees::skinRasters()
{
    QFETCH(QString, path);
    const QImage image(path);
    QVERIFY2(!image.isNull(), qPrintable(path));
    QVERIFY2(paintedPixels(image) > 0, "an empty image");
    if (path.endsWith(QLatin1String("/earth.png")))
        QCOMPARE(image.size(), QSize(450, 421));
    remember(path, image);
}

void TestResourceTrees::skinVectors_data()
{
    QTest::addColumn<QString>("path");
    for (const QString& name : kSkinVectors) {
        QTest::newRow(qPrintable("dark " + name)) << ":/standart_skin/" + name + ".svg";
        QTest::newRow(qPrintable("light " + name)) << ":/standart_skin/light/" + name + ".svg";
    }
}

void TestResourceTrees::skinVectors()
{
    QFETCH(QString, path);
    // Qt renders SVG Tiny only; a drawing that uses more comes out blank.
    QImageReader reader(path, "svg");
    QVERIFY2(reader.canRead(), qPrintable(path + ": " + reader.errorString()));
    reader.setScaledSize(reader.size().scaled(QSize(96, 96), Qt::KeepAspectRatio));
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(path + ": " + reader.errorString()));
    QVERIFY2(paintedPixels(image) > 20, qPrintable(path + " renders blank"));
    remember(path, image);
}

void TestResourceTrees::treesHoldNothingElse()
{
    QCOMPARE(filesUnder(QStringLiteral(":/MainWindow/Images")).size(), 11);
    QCOMPARE(filesUnder(QStringLiteral(":/ovpnconfs")).size(), 11);
    // The skin's directory holds the light palette below it.
    const QStringList light = filesUnder(QStringLiteral(":/standart_skin/light"));
    QCOMPARE(light.size(), 25 + 18);
    QCOMPARE(filesUnder(QStringLiteral(":/standart_skin")).size() - light.size(), 28 + 18);
    QCOMPARE(filesUnder(QStringLiteral(":/fonts/roboto")).size(), 12);
    QCOMPARE(filesUnder(QStringLiteral(":/fonts/montserrat")).size(), 5);
}

void TestResourceTrees::fonts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("weight"); // OpenType weight class
    QTest::addColumn<bool>("italic");
    const struct
    {
        const char* style;
        int weight;
    } weights[] = { // both families mark Thin 250, as usual for desktop use
                    { "Thin", 250 },   { "Light", 300 }, { "Regular", 400 },
                    { "Medium", 500 }, { "Bold", 700 },  { "Black", 900 }
    };
    for (const auto& w : weights) {
        for (bool italic : { false, true }) {
            QString style = QString::fromLatin1(w.style);
            if (italic)
                style = style == QLatin1String("Regular") ? QStringLiteral("Italic") : style + "Italic";
            QTest::newRow(qPrintable("Roboto " + style)) << ":/fonts/roboto/Roboto-" + style + ".ttf"
                                                         << "Roboto" << w.weight << italic;
        }
    }
    // The skin loads Montserrat by these names.
    QTest::newRow("Montserrat Thin") << ":/fonts/montserrat/Montserrat-Thin.otf"
                                     << "Montserrat" << 250 << false;
    QTest::newRow("Montserrat Light") << ":/fonts/montserrat/Montserrat-Light.otf"
                                      << "Montserrat" << 300 << false;
    QTest::newRow("Montserrat Regular") << ":/fonts/montserrat/Montserrat-Regular.otf"
                                        << "Montserrat" << 400 << false;
    QTest::newRow("Montserrat SemiBold") << ":/fonts/montserrat/Montserrat-SemiBold.otf"
                                         << "Montserrat" << 600 << false;
    QTest::newRow("Montserrat Bold") << ":/fonts/montserrat/Montserrat-Bold.otf"
                                     << "Montserrat" << 700 << false;
}

void TestResourceTrees::fonts()
{
    QFETCH(QString, path);
    QFETCH(QString, family);
    QFETCH(int, weight);
    QFETCH(bool, italic);
    const int id = QFontDatabase::addApplicationFont(path);
    QVERIFY2(id >= 0, qPrintable(path));
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    QVERIFY2(!families.isEmpty() && families.first().startsWith(family), qPrintable(families.join(',')));
    // The file holds the style its name promises.
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QRawFont raw(file.readAll(), 16);
    QVERIFY(raw.isValid());
    // OS/2 table: usWeightClass at offset 4, fsSelection (bit 0: italic) at 62.
    const QByteArray os2 = raw.fontTable("OS/2");
    QVERIFY(os2.size() >= 64);
    const auto u16 = [&os2](int at) { return (uchar(os2.at(at)) << 8) | uchar(os2.at(at + 1)); };
    QCOMPARE(u16(4), weight);
    QCOMPARE(bool(u16(62) & 1), italic);
    QVERIFY(raw.supportsCharacter(QChar(0x00E9))); // é
}

void TestResourceTrees::onlyTheIconAndTheDnsScriptAreCompressed()
{
    QStringList ours;
    for (const char* root : { ":/MainWindow", ":/Images", ":/ovpnconfs", ":/standart_skin", ":/fonts", ":/linux" })
        ours += filesUnder(QString::fromLatin1(root));
    QVERIFY(ours.size() > 300);
    QStringList compressed;
    for (const QString& path : qAsConst(ours)) {
        const QResource res(path);
        if (res.compressionAlgorithm() != QResource::NoCompression) {
            QCOMPARE(res.compressionAlgorithm(), QResource::ZlibCompression);
            compressed << path;
        }
    }
    const QStringList expected { QStringLiteral(":/MainWindow/Images/ostrel.ico"),
                                 QStringLiteral(":/linux/bin/ostrel-dns") };
    QCOMPARE(compressed.join(QLatin1Char(' ')), expected.join(QLatin1Char(' ')));

    // Reading a compressed entry yields the file as it was.
    QFile ico(QStringLiteral(":/MainWindow/Images/ostrel.ico"));
    QVERIFY(ico.open(QIODevice::ReadOnly));
    const QByteArray bytes = ico.readAll();
    QCOMPARE(bytes.size(), 6 + 16 + 40 + 128 * 128 * 4 + 128 * 128 / 8);
    QCOMPARE(bytes.left(4), QByteArray("\0\0\1\0", 4));
}

void TestResourceTrees::scriptsAreTheInstalledOnes_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("kill switch") << QStringLiteral("ostrel-killswitch.sh");
    QTest::newRow("dns") << QStringLiteral("ostrel-dns");
}

void TestResourceTrees::scriptsAreTheInstalledOnes()
{
    QFETCH(QString, name);
    QCOMPARE(filesUnder(QStringLiteral(":/linux/bin")).size(), 2);
    QFile compiledIn(QStringLiteral(":/linux/bin/") + name);
    QVERIFY(compiledIn.open(QIODevice::ReadOnly));
    const QByteArray bytes = compiledIn.readAll();
    QVERIFY(bytes.startsWith("#!"));
    // The build installs the same script beside every executable.
    QFile beside(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name);
    QVERIFY2(beside.open(QIODevice::ReadOnly), qPrintable(beside.fileName()));
    QCOMPARE(bytes, beside.readAll());
}

void TestResourceTrees::qmlFindsEveryKindByQrcUrl()
{
    // The QML names images, animations and fonts by "qrc:" addresses.
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData(R"(
        import QtQuick 2.12
        Item {
            property var statuses: [flag.status, skinPng.status, lightSvg.status, gif.status,
                                    montserrat.status, roboto.status, missing.status]
            Image { id: flag; source: "qrc:///Images/flags/de.png" }
            Image { id: skinPng; source: "qrc:///standart_skin/refresh.png" }
            Image { id: lightSvg; source: "qrc:///standart_skin/light/power.svg" }
            AnimatedImage { id: gif; source: "qrc:///standart_skin/onoffbunton-connecting.gif" }
            FontLoader { id: montserrat; source: "qrc:/fonts/montserrat/Montserrat-SemiBold.otf" }
            FontLoader { id: roboto; source: "qrc:/fonts/roboto/Roboto-BlackItalic.ttf" }
            Image { id: missing; source: "qrc:///Images/flags/xx.png" }
        })",
                      QUrl(QStringLiteral("qrc:/test.qml")));
    QScopedPointer<QObject> root(component.create());
    QVERIFY2(root, qPrintable(component.errorString()));
    // Local images load synchronously; the font loaders too.
    QTRY_VERIFY_WITH_TIMEOUT(root->property("statuses").toList().size() == 7, 5000);
    const QVariantList statuses = root->property("statuses").toList();
    const int ready = 1, error = 3; // Image.Ready / FontLoader.Ready, Image.Error
    for (int i = 0; i < 6; ++i)
        QCOMPARE(statuses.at(i).toInt(), ready);
    QCOMPARE(statuses.at(6).toInt(), error);
}

void TestResourceTrees::cleanupTestCase()
{
    // With OSTREL_CONTACT_SHEET=<file.png> every image seen above is laid
    // out on one sheet, on a dark and a light ground, to be looked at.
    const QString out = qEnvironmentVariable("OSTREL_CONTACT_SHEET");
    if (out.isEmpty())
        return;
    const int cell = 132, columns = 10, label = 14;
    const int rows = (m_sheet.size() + columns - 1) / columns;
    QImage sheet(columns * cell, rows * (cell + label), QImage::Format_ARGB32);
    sheet.fill(QColor("#F1F4F7"));
    QPainter p(&sheet);
    QFont font;
    font.setPixelSize(9);
    p.setFont(font);
    for (int i = 0; i < m_sheet.size(); ++i) {
        const QString& path = m_sheet.at(i).first;
        QImage image = m_sheet.at(i).second;
        const QRect box((i % columns) * cell, (i / columns) * (cell + label), cell, cell + label);
        const bool dark = !path.contains(QLatin1String("/light/")) && !path.contains(QLatin1String("flags"))
            && !path.contains(QLatin1String("Logo.png")) && !path.contains(QLatin1String("wait"));
        p.fillRect(QRect(box.x() + 2, box.y() + 2, cell - 4, cell - 4), dark ? QColor("#092741") : QColor("#FFFFFF"));
        if (image.width() > cell - 8 || image.height() > cell - 8)
            image = image.scaled(cell - 8, cell - 8, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        else if (image.width() <= 40)
            image = image.scaled(image.size() * 3, Qt::KeepAspectRatio, Qt::FastTransformation);
        p.drawImage(box.x() + (cell - image.width()) / 2, box.y() + (cell - image.height()) / 2, image);
        p.setPen(Qt::black);
        p.drawText(QRect(box.x(), box.y() + cell, cell, label), Qt::AlignCenter, path.mid(path.lastIndexOf('/') + 1));
    }
    p.end();
    QVERIFY(sheet.save(out));
}

OSTREL_TEST_MAIN(TestResourceTrees)
#include "tst_resourcetrees.moc"
