#pragma once

#include <QColor>
#include <QQuickPaintedItem>

// A horizontal line across the item, broken by a downward V whose tip is at
// arrowX: the pointer under a selected tab. The notch is twice the item's
// height wide; an arrowX too close to either end (or the initial -1) draws
// the plain line. The size comes from QML.
class QmlLineWithArrow : public QQuickPaintedItem
{
    Q_OBJECT
    Q_PROPERTY(double arrowX READ arrowX WRITE setArrowX NOTIFY arrowXChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(double penWidth READ penWidth WRITE setPenWidth NOTIFY penWidthChanged)

public:
    explicit QmlLineWithArrow(QQuickItem* parent = nullptr);

    void paint(QPainter* painter) override;

    QColor color() const { return m_color; }
    double penWidth() const { return m_penWidth; }
    double arrowX() const { return m_arrowX; }

signals:
    void colorChanged();
    void penWidthChanged();
    // Carries the position truncated toward zero.
    void arrowXChanged(int arrowX);

public slots:
    void setColor(QColor color);
    void setPenWidth(double newWidth);
    void setArrowX(double arrowX);

private:
    QColor m_color = Qt::black;
    double m_penWidth = 1.0;
    double m_arrowX = -1.0;
};
