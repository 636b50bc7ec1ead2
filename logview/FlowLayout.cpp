#include "logview/FlowLayout.h"

#include <QStyle>
#include <QWidget>

namespace logview {

FlowLayout::FlowLayout(QWidget* parent) : QLayout(parent) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    while (QLayoutItem* item = takeAt(0))
        delete item;
}

void FlowLayout::addItem(QLayoutItem* item) {
    m_items.append(item);
}

QLayoutItem* FlowLayout::takeAt(int index) {
    return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

QSize FlowLayout::minimumSize() const {
    // The widest item alone on a line.
    QSize size;
    for (const QLayoutItem* item : m_items)
        if (!item->isEmpty())
            size = size.expandedTo(item->sizeHint());
    const QMargins m = contentsMargins();
    return QSize(size.width() + m.left() + m.right(),
                 std::max(size.height() + m.top() + m.bottom(), m_height));
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const int height = place(rect);
    if (height != m_height) {
        m_height = height;
        invalidate(); // the window lays itself out again with the new height
    }
}

int FlowLayout::place(const QRect& rect) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    const int gap = spacing() >= 0 ? spacing() : 6;
    int x = area.x(), y = area.y(), lineHeight = 0;
    for (QLayoutItem* item : m_items) {
        if (item->isEmpty())
            continue;
        const QSize size = item->sizeHint();
        if (x + size.width() > area.right() + 1 && lineHeight > 0) {
            x = area.x();
            y += lineHeight + gap;
            lineHeight = 0;
        }
        item->setGeometry(QRect(QPoint(x, y), size));
        x += size.width() + gap;
        lineHeight = std::max(lineHeight, size.height());
    }
    return y + lineHeight - rect.y() + contentsMargins().bottom();
}

} // namespace logview
