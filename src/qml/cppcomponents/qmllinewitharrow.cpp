#include "qml/cppcomponents/qmllinewitharrow.h"

#include <QLineF>
#include <QPainter>
#include <QPen>

QmlLineWithArrow::QmlLineWithArrow(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setFlag(ItemHasContents, true);
}

void QmlLineWithArrow::paint(QPainter* painter)
{
    QPen pen(QBrush(m_color), m_penWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter->setPen(pen);
    painter->setRenderHint(QPainter::Antialiasing, smooth());

    // Painting runs in the item's own coordinates, whatever its position.
    const double w = width();
    const double h = height();
    const double yTop = m_penWidth;
    const double yBottom = h - m_penWidth;
    const double half = h;

    if (m_penWidth <= m_arrowX && m_arrowX < w - m_penWidth) {
        const QLineF lines[] = {
            QLineF(0, yTop, m_arrowX - half, yTop),
            QLineF(m_arrowX + half, yTop, w, yTop),
            QLineF(m_arrowX - half, yTop, m_arrowX, yBottom),
            QLineF(m_arrowX, yBottom, m_arrowX + half, yTop),
        };
        painter->drawLines(lines, 4);
    } else {
        painter->drawLine(QLineF(0, yTop, w, yTop));
    }
}

void QmlLineWithArrow::setColor(QColor color)
{
    if (m_color == color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

void QmlLineWithArrow::setPenWidth(double newWidth)
{
    // Exact comparison on purpose: any new value repaints.
    if (m_penWidth == newWidth)
        return;
    m_penWidth = newWidth;
    emit penWidthChanged();
    update();
}

void QmlLineWithArrow::setArrowX(double arrowX)
{
    if (m_arrowX == arrowX)
        return;
    m_arrowX = arrowX;
    emit arrowXChanged(static_cast<int>(arrowX));
    update();
}
