#include "platform/Artwork.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The artwork is compiled into the static program library, whose resource
// initialiser no one references: register it explicitly once.
static void initArtwork() {
    static const bool done = [] {
        Q_INIT_RESOURCE(pulsewatch);
        return true;
    }();
    (void)done;
}

namespace platform {

QIcon svgIcon(const QString& resource) {
    initArtwork();
    QSvgRenderer renderer(resource);
    QIcon icon;
    if (!renderer.isValid())
        return icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace platform
