#include "qml/cppcomponents/qmlline.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cstdlib>

QmlLine::QmlLine(QQuickItem* parent)
    : QQuickPaintedItem(parent)
{
    setFlag(ItemHasContents, true);
}

void QmlLine::paint(QPainter* painter)
{
    QPen pen(QBrush(m_color), m_penWidth, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin);
    painter->setPen(pen);
    painter->setRenderHint(QPainter::Antialiasing, smooth());
    // The item starts at the smaller end point less half the pen, so the end
    // points sit at the same offset inside it.
    const int left = std::min(m_x1, m_x2) - m_penWidth / 2;
    const int top = std::min(m_y1, m_y2) - m_penWidth / 2;
    painter->drawLine(m_x1 - left, m_y1 - top, m_x2 - left, m_y2 - top);
}

void QmlLine::setX1(int x1)
{
    if (m_x1 == x1)
        return;
    m_x1 = x1;
    updateGeometry();
    emit x1Changed();
    update();
}

void QmlLine::setY1(int y1)
{
    if (m_y1 == y1)
        return;
    m_y1 = y1;
    updateGeometry();
    emit y1Changed();
    update();
}

void QmlLine::setX2(int x2)
{
    if (m_x2 == x2)
        return;
    m_x2 = x2;
    updateGeometry();
    emit x2Changed();
    update();
}

void QmlLine::setY2(int y2)
{
    if (m_y2 == y2)
        return;
    m_y2 = y2;
    updateGeometry();
    emit y2Changed();
    update();
}

void QmlLine::setColor(const QColor& color)
{
    if (m_color == color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

void QmlLine::setPenWidth(int penWidth)
{
    if (m_penWidth == penWidth)
        return;
    m_penWidth = penWidth;
    updateGeometry();
    emit penWidthChanged();
    update();
}

void QmlLine::updateGeometry()
{
    setX(std::min(m_x1, m_x2) - m_penWidth / 2);
    setY(std::min(m_y1, m_y2) - m_penWidth / 2);
    setWidth(std::abs(m_x2 - m_x1) + m_penWidth);
    setHeight(std::abs(m_y2 - m_y1) + m_penWidth);
}
