// The reply box as a reader: its context menu, Find, links and zoom.
#include "reply/ReplyBox.h"

#include "app/Platform.h"
#include "reply/FindWindow.h"
#include "reply/ReplyFinder.h"
#include "reply/ReplyZoom.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QShortcut>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {
QAction* addItem(QMenu* menu, const QString& text, const char* name)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QString::fromLatin1(name));
    return action;
}

// A key that acts wherever the focus is in the box's window.
QAction* windowKey(QWidget* box, const QList<QKeySequence>& keys)
{
    auto* action = new QAction(box);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WindowShortcut);
    box->addAction(action);
    return action;
}
} // namespace

void ReplyBox::setUpReader()
{
    viewport()->setMouseTracking(true);

    m_menu = new QMenu(this);
    m_menu->setObjectName(QStringLiteral("replyMenu"));
    m_openLink = addItem(m_menu, tr("&Open Link"), "openLink");
    m_copyLink = addItem(m_menu, tr("Copy &Link Address"), "copyLink");
    m_linkSeparator = m_menu->addSeparator();
    m_copy = addItem(m_menu, tr("&Copy"), "copy");
    m_selectAll = addItem(m_menu, tr("Select &All"), "selectAll");
    m_menu->addSeparator();
    m_find = addItem(m_menu, tr("&Find..."), "find");
    connect(m_openLink, &QAction::triggered, this, [this] { emit linkActivated(m_menuLink); });
    connect(m_copyLink, &QAction::triggered, this, [this] { QGuiApplication::clipboard()->setText(m_menuLink); });
    connect(m_copy, &QAction::triggered, this, &ReplyBox::copyRequested);
    connect(m_selectAll, &QAction::triggered, this, &ReplyBox::selectAllRequested);
    connect(m_find, &QAction::triggered, this, &ReplyBox::showFind);

    m_finder = new ReplyFinder(*this);
    connect(m_finder, &ReplyFinder::searchEnded, this, &ReplyBox::searchEnded);

    connect(windowKey(this, {QKeySequence(Qt::CTRL | Qt::Key_F)}), &QAction::triggered, this, &ReplyBox::showFind);
    connect(windowKey(this, {QKeySequence(Qt::Key_F3)}), &QAction::triggered, this, [this] { findAgain(false); });
    connect(windowKey(this, {QKeySequence(Qt::SHIFT | Qt::Key_F3)}), &QAction::triggered, this,
            [this] { findAgain(true); });
    // However the keyboard types plus: Shift+= on a US layout, or the keypad.
    // One press can match several of these at once, which Qt calls ambiguous
    // and hands to one of them: each zooms either way.
    for (const QKeyCombination plus : {Qt::CTRL | Qt::Key_Plus, Qt::CTRL | Qt::SHIFT | Qt::Key_Plus,
                                       Qt::CTRL | Qt::Key_Equal, Qt::CTRL | Qt::SHIFT | Qt::Key_Equal}) {
        auto* key = new QShortcut(QKeySequence(plus), this, nullptr, nullptr, Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, &ReplyBox::zoomIn);
        connect(key, &QShortcut::activatedAmbiguously, this, &ReplyBox::zoomIn);
    }
    connect(windowKey(this, {QKeySequence(Qt::CTRL | Qt::Key_Minus)}), &QAction::triggered, this, &ReplyBox::zoomOut);
    connect(windowKey(this, {QKeySequence(Qt::CTRL | Qt::Key_0)}), &QAction::triggered, this, &ReplyBox::resetZoom);
}

void ReplyBox::openContextMenu(const QPoint& globalPos, qsizetype overLink)
{
    m_menuLink = overLink >= 0 ? linkAtPosition(overLink).target : QString();
    const bool link = !m_menuLink.isEmpty();
    m_openLink->setVisible(link);
    m_copyLink->setVisible(link);
    m_linkSeparator->setVisible(link);
    m_copy->setEnabled(selLength() > 0);
    m_selectAll->setEnabled(length() > 0);
    m_find->setEnabled(length() > 0);
    platform().popupMenu(m_menu, globalPos);
}

void ReplyBox::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Mouse) {
        const QPoint point = viewport()->mapFromGlobal(event->globalPos());
        const ReplyLinks::Link link = linkAtPoint(point);
        openContextMenu(event->globalPos(), link.target.isEmpty() ? -1 : link.from);
    } else {
        openContextMenu(caretMenuPoint(), m_caret);
    }
    event->accept();
}

void ReplyBox::rightPress(const QPoint& point)
{
    const auto [line, column] = cellAt(point);
    const qsizetype under = m_text.locateColumn(line, static_cast<qsizetype>(column)).first;
    const qsizetype from = selStart();
    if (selLength() > 0 && under >= from && under < from + selLength() && under < lineEnd(line))
        return;
    moveCaret(positionAt(point), false);
}

QPoint ReplyBox::caretMenuPoint() const
{
    const QPointF cell = cellPosition(lineOf(m_caret), columnOf(m_caret)) + QPointF(0, m_lineHeight);
    const QRect area = viewport()->rect();
    const QPoint local(std::clamp(qRound(cell.x()), 0, area.right()), std::clamp(qRound(cell.y()), 0, area.bottom()));
    return viewport()->mapToGlobal(local);
}

ReplyLinks::Link ReplyBox::linkAtPoint(const QPoint& point) const
{
    const qsizetype row = static_cast<qsizetype>(std::floor(qreal(point.y() - kMargin) / m_lineHeight));
    const qsizetype line = firstVisibleLine() + row;
    const qreal column = firstVisibleColumn() + (point.x() - kMargin) / m_charWidth;
    if (row < 0 || line >= lineCount() || column < 0)
        return {0, 0, QString()};
    const qsizetype position = m_text.locateColumn(line, static_cast<qsizetype>(column)).first;
    if (position >= lineEnd(line))
        return {position, position, QString()};
    return linkAtPosition(position);
}

ReplyLinks::Link ReplyBox::linkAtPosition(qsizetype position) const
{
    ReplyLinks::Link link = ReplyLinks::at(m_text, position);
    // The caret just after a link still offers it.
    if (link.target.isEmpty() && position > 0 && position > lineStart(lineOf(position)))
        link = ReplyLinks::at(m_text, m_text.previousPosition(position));
    return link;
}

void ReplyBox::showLinkPointer(const QPoint& point)
{
    // The hourglass of a running query stays; only the box's own pointers change.
    const Qt::CursorShape shape = viewport()->cursor().shape();
    if (shape != Qt::IBeamCursor && shape != Qt::PointingHandCursor)
        return;
    const ReplyLinks::Link link = linkAtPoint(point);
    const Qt::CursorShape wanted = link.target.isEmpty() ? Qt::IBeamCursor : Qt::PointingHandCursor;
    if (wanted != shape)
        viewport()->setCursor(wanted);
}

void ReplyBox::paintLinks(QPainter& painter, qsizetype line, int y, qsizetype firstColumn, qsizetype lastColumn) const
{
    const qsizetype from = m_text.locateColumn(line, firstColumn).first;
    const qsizetype to = m_text.locateColumn(line, lastColumn).first;
    const std::vector<ReplyLinks::Link> links = ReplyLinks::inLine(m_text, line, from, to);
    if (links.empty())
        return;
    const QFontMetricsF metrics(font());
    const qreal thickness = std::max<qreal>(1, std::round(metrics.lineWidth()));
    const qreal underY = y + m_ascent + std::max<qreal>(1, std::round(metrics.underlinePos()));
    const qsizetype selectionStart = selStart();
    const qsizetype selectionEnd = selectionStart + selLength();
    const auto xOf = [&](qsizetype column) { return kMargin + (column - firstColumn) * m_charWidth; };
    // Underlined in the text's own colour, in pieces split where the selection starts and ends.
    const auto underline = [&](qsizetype a, qsizetype b, bool selected) {
        const qsizetype left = std::max(columnOf(a), firstColumn);
        const qsizetype right = std::min(columnOf(b), lastColumn);
        if (left < right)
            painter.fillRect(QRectF(xOf(left), underY, (right - left) * m_charWidth, thickness),
                             palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
    };
    for (const ReplyLinks::Link& link : links) {
        const qsizetype selFrom = std::clamp(selectionStart, link.from, link.to);
        const qsizetype selTo = std::clamp(selectionEnd, selFrom, link.to);
        underline(link.from, selFrom, false);
        underline(selFrom, selTo, true);
        underline(selTo, link.to, false);
    }
}

void ReplyBox::showFind()
{
    if (!m_findWindow)
        m_findWindow = new FindWindow(*m_finder, window());
    m_findWindow->showBeside();
}

void ReplyBox::findAgain(bool backward)
{
    if (!m_finder->findAgain(backward))
        showFind();
}

void ReplyBox::stopSearch()
{
    m_finder->stop();
}

double ReplyBox::fontPointSize() const
{
    return font().pointSizeF();
}

void ReplyBox::setFontPointSize(double points)
{
    points = std::clamp(points, ReplyZoom::kSmallest, ReplyZoom::kLargest);
    if (std::abs(points - fontPointSize()) < 0.001)
        return;
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    QFont face = font();
    face.setPointSizeF(points);
    setFont(face);
    // The font change has already laid the grid out again; the view stays on its line and column.
    verticalScrollBar()->setValue(top);
    horizontalScrollBar()->setValue(left);
    emit fontPointSizeChanged(points);
}

void ReplyBox::zoomIn()
{
    setFontPointSize(ReplyZoom::larger(fontPointSize()));
}

void ReplyBox::zoomOut()
{
    setFontPointSize(ReplyZoom::smaller(fontPointSize()));
}

void ReplyBox::resetZoom()
{
    setFontPointSize(ReplyZoom::kDefaultPoints);
}

void ReplyBox::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        m_wheelZoom = 0;
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // One step per notch; a fine-grained wheel adds up to one.
    m_wheelZoom += event->angleDelta().y();
    for (; m_wheelZoom >= 120; m_wheelZoom -= 120)
        zoomIn();
    for (; m_wheelZoom <= -120; m_wheelZoom += 120)
        zoomOut();
    event->accept();
}
