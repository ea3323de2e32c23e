#include "app/ProgramIcon.h"

#include <QIconEngine>
#include <QPainter>

namespace {
// The compiled-in drawing under the name of the icon the package installs in
// the icon theme, so panels and docks that look icons up by name find it.
class NamedIconEngine final : public QIconEngine
{
public:
    NamedIconEngine(const QString& name, const QIcon& drawing) : m_name(name), m_drawing(drawing) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        m_drawing.paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_drawing.pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return m_drawing.actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return m_drawing.availableSizes(mode, state);
    }
    QString iconName() override { return m_name; }
    QString key() const override { return QStringLiteral("NamedIconEngine"); }
    QIconEngine* clone() const override { return new NamedIconEngine(m_name, m_drawing); }

private:
    QString m_name;
    QIcon m_drawing;
};

QIcon drawing()
{
    // Qt's SVG icon engine draws it sharp at every size and device pixel ratio.
    QIcon svg(QStringLiteral(":/icons/finger-quobix.svg"));
    if (!svg.isNull())
        return svg;
    // Without Qt's SVG support the pixmaps rendered from the same drawing stand in.
    QIcon pixmaps;
    for (const int size : {16, 32, 48, 64, 128})
        pixmaps.addFile(QStringLiteral(":/icons/%1x%1/finger-quobix.png").arg(size), QSize(size, size));
    return pixmaps;
}
} // namespace

QIcon programIcon()
{
    return QIcon(new NamedIconEngine(kProgramIconName, drawing()));
}
