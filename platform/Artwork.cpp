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

QPixmap svgPixmap(const QString& resource, int width, int height) {
    initArtwork();
    QSvgRenderer renderer(resource);
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid())
        return pixmap;
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

QIcon svgIcon(const QString& resource) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) {
        const QPixmap pixmap = svgPixmap(resource, size, size);
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace platform
