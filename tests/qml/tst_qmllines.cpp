// The painted line items: geometry, change signals and what they draw.

#include "qml/cppcomponents/qmlline.h"
#include "qml/cppcomponents/qmllinewitharrow.h"
#include "testsupport.h"

#include <QImage>
#include <QPainter>

namespace {

// Paints the item into an image of its own size, white background.
template <class Item>
QImage render(Item& item)
{
    QImage image(int(item.width()), int(item.height()), QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    item.paint(&painter);
    return image;
}

bool inked(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y) != QColor(Qt::white);
}

int inkedCount(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += inked(image, x, y) ? 1 : 0;
    return count;
}

} // namespace

class TestQmlLines : public QObject
{
    Q_OBJECT

private slots:
    void lineGeometry_data()
    {
        QTest::addColumn<int>("x1");
        QTest::addColumn<int>("y1");
        QTest::addColumn<int>("x2");
        QTest::addColumn<int>("y2");
        QTest::addColumn<int>("penWidth");
        QTest::addColumn<QRectF>("geometry");
        QTest::newRow("falling back") << 10 << 20 << 4 << 30 << 3 << QRectF(3, 19, 9, 13);
        QTest::newRow("horizontal") << 0 << 5 << 100 << 5 << 1 << QRectF(0, 5, 101, 1);
        QTest::newRow("even pen") << 2 << 2 << 2 << 12 << 4 << QRectF(0, 0, 4, 14);
    }

    // The item wraps the line whatever the order of the end points.
    void lineGeometry()
    {
        QFETCH(int, x1);
        QFETCH(int, y1);
        QFETCH(int, x2);
        QFETCH(int, y2);
        QFETCH(int, penWidth);
        QFETCH(QRectF, geometry);
        QmlLine line;
        line.setPenWidth(penWidth);
        line.setX1(x1);
        line.setY1(y1);
        line.setX2(x2);
        line.setY2(y2);
        QCOMPARE(QRectF(line.x(), line.y(), line.width(), line.height()), geometry);
    }

    void lineSignalsOnlyOnChange()
    {
        QmlLine line;
        QSignalSpy x1Spy(&line, &QmlLine::x1Changed);
        QSignalSpy colorSpy(&line, &QmlLine::colorChanged);
        QSignalSpy penSpy(&line, &QmlLine::penWidthChanged);
        line.setX1(0);
        line.setColor(Qt::black);
        line.setPenWidth(1);
        QCOMPARE(x1Spy.count() + colorSpy.count() + penSpy.count(), 0);
        line.setX1(7);
        line.setX1(7);
        line.setColor(Qt::red);
        QCOMPARE(x1Spy.count(), 1);
        QCOMPARE(colorSpy.count(), 1);
        QCOMPARE(line.x1(), 7);
    }

    // The line is drawn where the item is, whatever its place in the parent.
    void linePaintsInsideItsBox()
    {
        QmlLine line;
        line.setPenWidth(3);
        line.setColor(Qt::blue);
        line.setX1(10);
        line.setY1(20);
        line.setX2(4);
        line.setY2(30);
        const QImage image = render(line);
        // End points (7, 1) and (1, 11) in item coordinates, middle (4, 6).
        QVERIFY(inked(image, 7, 1));
        QVERIFY(inked(image, 4, 6));
        QVERIFY(inked(image, 1, 11));
        QVERIFY(!inked(image, 8, 12));
        QVERIFY(!inked(image, 0, 0));
    }

    void arrowSignals()
    {
        QmlLineWithArrow line;
        QSignalSpy arrowSpy(&line, &QmlLineWithArrow::arrowXChanged);
        QSignalSpy penSpy(&line, &QmlLineWithArrow::penWidthChanged);
        line.setArrowX(-1.0);
        line.setPenWidth(1.0);
        QCOMPARE(arrowSpy.count() + penSpy.count(), 0);
        line.setArrowX(2.7);
        line.setArrowX(-3.9);
        QCOMPARE(arrowSpy.count(), 2);
        QCOMPARE(arrowSpy.at(0).at(0).toInt(), 2);
        QCOMPARE(arrowSpy.at(1).at(0).toInt(), -3);
        QCOMPARE(line.arrowX(), -3.9);
    }

    void arrowNotch_data()
    {
        QTest::addColumn<double>("arrowX");
        QTest::addColumn<bool>("notch");
        QTest::newRow("initial") << -1.0 << false;
        QTest::newRow("at the pen width") << 1.0 << true;
        QTest::newRow("middle") << 50.0 << true;
        QTest::newRow("one pen from the end") << 99.0 << false;
        QTest::newRow("beyond") << 150.0 << false;
    }

    // A notch breaks the top line around arrowX and dips to the bottom.
    void arrowNotch()
    {
        QFETCH(double, arrowX);
        QFETCH(bool, notch);
        QmlLineWithArrow line;
        line.setWidth(100);
        line.setHeight(10);
        line.setX(30);
        line.setY(200);
        line.setArrowX(arrowX);
        const QImage image = render(line);
        const int tip = int(arrowX);
        if (notch) {
            QVERIFY(inked(image, tip, 9));
            QVERIFY(!inked(image, tip, 1));
            QVERIFY(inked(image, 99, 1));
        } else {
            QVERIFY(inked(image, 50, 1));
            QVERIFY(!inked(image, 50, 9));
            QVERIFY(inked(image, 0, 1));
            QVERIFY(inked(image, 99, 1));
        }
        QVERIFY(inkedCount(image) >= 100);
    }
};

OSTREL_TEST_MAIN(TestQmlLines)
#include "tst_qmllines.moc"
