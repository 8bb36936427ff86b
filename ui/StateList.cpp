#include "ui/StateList.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRadialGradient>

namespace quorvik {
namespace {

constexpr int Size = 16;

void OpenFolder(QPainter& p) {
    p.setPen(QColor(128, 96, 0));
    p.setBrush(QColor(230, 190, 60));
    p.drawPolygon(QPolygonF({{1, 3}, {6, 3}, {7, 5}, {13, 5}, {13, 13}, {1, 13}}));
    p.setBrush(QColor(255, 230, 100));
    p.drawPolygon(QPolygonF({{3, 7}, {15, 7}, {13, 13}, {1, 13}}));
}

void Light(QPainter& p, QColor light) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(QPen(QColor(160, 160, 160), 1));
    p.drawEllipse(QRectF(2.5, 2.5, 11, 11));
    QRadialGradient glow(QPointF(7, 7), 5);
    glow.setColorAt(0, light.lighter(170));
    glow.setColorAt(1, light);
    p.setPen(light.darker(150));
    p.setBrush(glow);
    p.drawEllipse(QRectF(4, 4, 8, 8));
}

void Person(QPainter& p, qreal x, QColor shirt) {
    p.setPen(QColor(60, 40, 20));
    p.setBrush(QColor(250, 205, 160));
    p.drawEllipse(QRectF(x + 2, 2, 5, 5));
    p.setBrush(shirt);
    p.drawChord(QRectF(x, 8, 9, 12), 0, 180 * 16);
}

void TwoPeople(QPainter& p) {
    Person(p, 6, QColor(40, 90, 200));
    Person(p, 0, QColor(200, 50, 50));
}

void Letter(QPainter& p, const QRectF& box, const QString& text, int pixelSize, bool bold,
            bool italic, bool underline, QColor colour = Qt::black) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    font.setItalic(italic);
    font.setUnderline(underline);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(box, Qt::AlignCenter, text);
}

void TwoAs(QPainter& p) {
    Letter(p, QRectF(0, 4, 7, 12), QStringLiteral("A"), 9, true, false, false);
    Letter(p, QRectF(5, 1, 11, 15), QStringLiteral("A"), 12, true, false, false);
}

void Arrow(QPainter& p, bool up) {
    p.setPen(QColor(0, 0, 160));
    p.setBrush(QColor(0, 0, 160));
    const qreal tip = up ? 0 : 6;
    const qreal base = up ? 3 : 3;
    p.drawPolygon(QPolygonF({{0, base}, {3, tip}, {6, base}}));
}

void SizeUp(QPainter& p) {
    TwoAs(p);
    Arrow(p, true);
}

void SizeDown(QPainter& p) {
    TwoAs(p);
    Arrow(p, false);
}

void SizeBoth(QPainter& p) {
    TwoAs(p);
    p.setPen(QColor(0, 0, 160));
    p.setBrush(QColor(0, 0, 160));
    p.drawPolygon(QPolygonF({{0, 3}, {2.5, 0}, {5, 3}}));
    p.drawPolygon(QPolygonF({{0, 4}, {2.5, 7}, {5, 4}}));
}

void BackgroundColour(QPainter& p) {
    p.setPen(QColor(60, 60, 60));
    p.setBrush(QColor(255, 255, 190));
    p.drawRect(QRectF(0.5, 3.5, 11, 11));
    Letter(p, QRectF(1, 3, 11, 11), QStringLiteral("a"), 11, true, false, false);
    p.setPen(QPen(QColor(220, 0, 0), 2));
    p.drawLine(QPointF(12.5, 0), QPointF(12.5, 7));
    p.drawLine(QPointF(9, 3.5), QPointF(16, 3.5));
}

void Door(QPainter& p) {
    p.setPen(QColor(70, 40, 10));
    p.setBrush(QColor(110, 110, 110));
    p.drawRect(QRectF(3.5, 0.5, 10, 15));
    p.setBrush(QColor(160, 100, 40));
    p.drawPolygon(QPolygonF({{3.5, 0.5}, {10, 2.5}, {10, 15.5}, {3.5, 15.5}}));
    p.setBrush(QColor(240, 200, 0));
    p.drawEllipse(QRectF(7.5, 7.5, 1.8, 1.8));
}

void Paint(QPainter& p, int index) {
    switch (index) {
    case 0:
    case 1:
        OpenFolder(p);
        break;
    case 2:
        Light(p, QColor(0, 190, 0));
        break;
    case 3:
        Light(p, QColor(220, 0, 0));
        break;
    case 4:
        TwoPeople(p);
        break;
    case 5:
        SizeUp(p);
        break;
    case 6:
        SizeDown(p);
        break;
    case 7:
        SizeBoth(p);
        break;
    case 8:
        BackgroundColour(p);
        break;
    case 9:
        Door(p);
        break;
    case 10:
        Letter(p, QRectF(0, 0, 16, 16), QStringLiteral("U"), 14, true, false, true);
        break;
    case 11:
        Letter(p, QRectF(0, 0, 16, 16), QStringLiteral("I"), 15, true, true, false);
        break;
    case 12:
        Letter(p, QRectF(0, 0, 16, 16), QStringLiteral("B"), 15, true, false, false);
        break;
    default:
        break;
    }
}

} // namespace

QPixmap StateImage(int index) {
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    Paint(painter, index);
    return pixmap;
}

QIcon StateIcon(int index) {
    return QIcon(StateImage(index));
}

} // namespace quorvik
