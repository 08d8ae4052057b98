#include "shared/AppIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace gridmorph {
namespace {

void DrawPage(QPainter& painter)
{
    QPainterPath page;
    page.moveTo(7, 3);
    page.lineTo(19, 3);
    page.lineTo(26, 10);
    page.lineTo(26, 29);
    page.lineTo(7, 29);
    page.closeSubpath();
    painter.setPen(QPen(QColor(80, 80, 80), 1.5));
    painter.setBrush(Qt::white);
    painter.drawPath(page);
    painter.setBrush(QColor(220, 220, 220));
    painter.drawPolygon(QPolygonF({QPointF(19, 3), QPointF(19, 10), QPointF(26, 10)}));
}

void DrawFolder(QPainter& painter)
{
    painter.setPen(QPen(QColor(150, 110, 20), 1.5));
    painter.setBrush(QColor(240, 200, 90));
    painter.drawRoundedRect(QRectF(3, 9, 26, 19), 2, 2);
    painter.drawRoundedRect(QRectF(3, 6, 11, 5), 1.5, 1.5);
    painter.setBrush(QColor(250, 220, 120));
    painter.drawPolygon(QPolygonF({QPointF(6, 14), QPointF(30, 14), QPointF(27, 28), QPointF(3, 28)}));
}

void DrawDisk(QPainter& painter)
{
    painter.setPen(QPen(QColor(30, 50, 110), 1.5));
    painter.setBrush(QColor(60, 100, 190));
    painter.drawRoundedRect(QRectF(4, 4, 24, 24), 2, 2);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(9, 4, 14, 9));
    painter.setBrush(QColor(200, 200, 210));
    painter.drawRect(QRectF(8, 18, 16, 10));
}

void DrawHelp(QPainter& painter)
{
    painter.setPen(QPen(QColor(20, 70, 150), 1.5));
    painter.setBrush(QColor(60, 130, 220));
    painter.drawEllipse(QRectF(3, 3, 26, 26));
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(20);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, QStringLiteral("?"));
}

void DrawProgram(QPainter& painter)
{
    // A map sheet, turned a little as a scan lies on the scanner, with its grid.
    painter.translate(16, 16);
    painter.rotate(-8);
    painter.translate(-16, -16);
    painter.setPen(QPen(QColor(90, 80, 60), 1.2));
    painter.setBrush(QColor(246, 238, 214));
    painter.drawRect(QRectF(4, 4, 24, 24));
    painter.setPen(QPen(QColor(60, 140, 80), 1.0));
    for (double d : {10.0, 16.0, 22.0}) {
        painter.drawLine(QPointF(d, 4), QPointF(d, 28));
        painter.drawLine(QPointF(4, d), QPointF(28, d));
    }
    painter.setPen(QPen(QColor(200, 30, 30), 1.6));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(10, 10), 3.5, 3.5);
    painter.drawEllipse(QPointF(22, 10), 3.5, 3.5);
    painter.drawEllipse(QPointF(22, 22), 3.5, 3.5);
}

}  // namespace

QIcon DrawnIcon(void (*fnDraw)(QPainter&))
{
    QIcon icon;
    for (int nSize : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(nSize, nSize);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(nSize / 32.0, nSize / 32.0);
        fnDraw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon ToolbarIcon(EToolbarIcon eIcon)
{
    switch (eIcon) {
    case EToolbarIcon::New:
        return QIcon::fromTheme(QStringLiteral("document-new"), DrawnIcon(DrawPage));
    case EToolbarIcon::Open:
        return QIcon::fromTheme(QStringLiteral("document-open"), DrawnIcon(DrawFolder));
    case EToolbarIcon::Save:
        return QIcon::fromTheme(QStringLiteral("document-save"), DrawnIcon(DrawDisk));
    case EToolbarIcon::Help:
        return QIcon::fromTheme(QStringLiteral("help-contents"), DrawnIcon(DrawHelp));
    }
    return QIcon();
}

QIcon ProgramIcon() { return DrawnIcon(DrawProgram); }

}  // namespace gridmorph
