#include "platform/Artwork.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The resources are compiled into the static program library, whose
// resource initialiser no one references: register them explicitly once.
static void initResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(pulsewatch);
        return true;
    }();
    (void)done;
}

namespace platform {

void ensureResources() {
    initResources();
}

QFont minchoFont() {
    QFont f;
    f.setFamilies({QStringLiteral("Noto Serif CJK JP"), QStringLiteral("IPAexMincho"),
                   QStringLiteral("IPAMincho"), QStringLiteral("serif")});
    f.setStyleHint(QFont::Serif);
    return f;
}

QPixmap svgPixmap(const QString& resource, int width, int height) {
    initResources();
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
