#pragma once

#include <QLayout>
#include <QList>

namespace logview {

/// Lays its widgets out in lines like words of a text, starting a new line
/// where the next no longer fits: the chart's legend stays whole however
/// narrow the window is.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget* parent = nullptr);
    ~FlowLayout() override;

    void addItem(QLayoutItem* item) override;
    int count() const override { return static_cast<int>(m_items.size()); }
    QLayoutItem* itemAt(int index) const override { return m_items.value(index); }
    QLayoutItem* takeAt(int index) override;
    Qt::Orientations expandingDirections() const override { return {}; }
    QSize sizeHint() const override { return minimumSize(); }
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

private:
    int place(const QRect& rect) const; // the height the lines take

    QList<QLayoutItem*> m_items;
    // The height the lines took at the last width laid out. Given as the
    // minimum rather than through height-for-width, which would make a
    // scroll area around the window take every layout's preferred height.
    int m_height = 0;
};

} // namespace logview
