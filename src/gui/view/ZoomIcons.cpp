#include "view/ZoomIcons.h"

#include <QPainter>
#include <QPixmap>

namespace gridmorph {
namespace {

QPixmap Draw(EZoomIcon eIcon, int nSize)
{
    QPixmap pixmap(nSize, nSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(nSize / 16.0, nSize / 16.0);
    const QColor ink(40, 40, 40);
    switch (eIcon) {
    case EZoomIcon::ZoomIn:
    case EZoomIcon::ZoomOut:
        // A lens with a handle, and a plus or a minus in it.
        painter.setPen(QPen(ink, 1.5));
        painter.setBrush(QColor(235, 245, 255));
        painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
        painter.setPen(QPen(ink, 2.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
        painter.setPen(QPen(ink, 1.5));
        painter.drawLine(QPointF(3.5, 6), QPointF(8.5, 6));
        if (eIcon == EZoomIcon::ZoomIn)
            painter.drawLine(QPointF(6, 3.5), QPointF(6, 8.5));
        break;
    case EZoomIcon::ActualSize: {
        QFont font = painter.font();
        font.setPixelSize(8);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(QPen(ink, 1));
        painter.setBrush(Qt::white);
        painter.drawRect(QRectF(0.5, 2.5, 15, 11));
        painter.drawText(QRectF(0, 2, 16, 12), Qt::AlignCenter, QStringLiteral("1:1"));
        break;
    }
    case EZoomIcon::FitWholeMap:
        // A sheet inside a frame with corner marks.
        painter.setPen(QPen(ink, 1));
        painter.setBrush(QColor(235, 245, 255));
        painter.drawRect(QRectF(3.5, 4.5, 9, 7));
        painter.setPen(QPen(ink, 1.5));
        for (const QPointF& corner : {QPointF(1, 1), QPointF(15, 1), QPointF(15, 15), QPointF(1, 15)}) {
            const double dx = corner.x() < 8 ? 3 : -3, dy = corner.y() < 8 ? 3 : -3;
            painter.drawLine(corner, corner + QPointF(dx, 0));
            painter.drawLine(corner, corner + QPointF(0, dy));
        }
        break;
    }
    return pixmap;
}

}  // namespace

QIcon ZoomIcon(EZoomIcon eIcon)
{
    QIcon icon;
    icon.addPixmap(Draw(eIcon, 16));
    icon.addPixmap(Draw(eIcon, 32));
    return icon;
}

}  // namespace gridmorph
