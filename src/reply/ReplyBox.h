#pragma once

#include "reply/ReplyLinks.h"
#include "reply/ReplyText.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QPixmap>
#include <QString>

#include <unordered_map>
#include <utility>

class FindWindow;
class QAction;
class QMenu;
class QPainter;
class ReplyFinder;

// The reply box: a read-only view of a ReplyText (the exact text it was given,
// every CR, LF and NUL, and its line index) that paints only the lines and
// columns in view, so a hostile reply of one huge line or many megabytes
// cannot freeze the window. Characters are one byte each (Latin-1), but in a
// reply each well-formed UTF-8 sequence shows as its character (see
// ReplyText); East Asian wide characters take two cells. Tabs advance to the
// next multiple of 8 columns; other control characters are shown as visible
// symbols.
class ReplyBox : public QAbstractScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyBox)

public:
    static constexpr int kTabWidth = ReplyText::kTabWidth;

    explicit ReplyBox(QWidget* parent = nullptr);
    ~ReplyBox() override;

    // The text and its line index, for reading; the box alone changes it.
    const ReplyText& model() const { return m_text; }

    // The exact bytes, and the text as shown.
    const QByteArray& data() const { return m_text.data(); }
    QString text() const { return m_text.text(); }
    qsizetype length() const { return m_text.length(); }

    // Replacing the text puts the caret at the start and scrolls there.
    void setText(const QString& text);
    void setData(const QByteArray& data);
    void append(const QByteArray& block);
    void append(const QString& block) { append(block.toLatin1()); }
    void append(const char* block) { append(QByteArray(block)); }
    void clear();
    // Where the view goes when a note arrives.
    enum class Follow { Stay, IfAtEnd };
    // A line of the program's own (a server's notice): never part of an open
    // reply. With IfAtEnd the view and caret follow it to the end, but only
    // while the view shows the end and nothing is selected, so a reader
    // above the end or holding a selection is left where they are.
    void appendNote(const QString& line, Follow follow = Follow::Stay);
    // Past this many bytes the oldest lines go (ReplyText::kDefaultLimit unless set).
    void setLimit(qsizetype bytes) { m_text.setLimit(bytes); }
    // What is appended from now on is one reply, its UTF-8 sequences shown as characters.
    void beginReply() { m_text.beginReply(); }
    void endReply() { m_text.endReply(); }

    // Selection, in characters of the exact text. The anchor stays where the
    // selection began; the caret is the end that moves.
    qsizetype selStart() const;
    qsizetype selLength() const;
    QString selectedText() const;
    // Anchor at start, caret at start + length (a negative length puts the
    // caret before the anchor); both are clamped to the text. Scrolls the
    // caret into view.
    void setSelection(qsizetype start, qsizetype length);
    void selectAll();
    qsizetype anchorPosition() const { return m_anchor; }
    qsizetype caretPosition() const { return m_caret; }

    // The line index (see ReplyText).
    qsizetype lineCount() const { return m_text.lineCount(); }
    qsizetype lineStart(qsizetype line) const { return m_text.lineStart(line); }
    qsizetype lineEnd(qsizetype line) const { return m_text.lineEnd(line); }
    QByteArray lineText(qsizetype line) const { return m_text.lineText(line); }
    qsizetype lineOf(qsizetype position) const { return m_text.lineOf(position); }
    qsizetype columnOf(qsizetype position) const { return m_text.columnOf(position); }
    qsizetype widestLine() const { return m_text.widestLine(); }

    // Geometry of the character grid, for the window and tests.
    qreal charWidth() const { return m_charWidth; }
    int lineHeight() const { return m_lineHeight; }
    int firstVisibleLine() const;
    qsizetype firstVisibleColumn() const;
    // Viewport point of the top left corner of a character cell, relative to the scroll position.
    QPointF cellPosition(qsizetype line, qsizetype column) const;

    // Reading: the context menu, Find, links and zoom (ReplyBoxReader.cpp).
    // The menu for the state now, opened at a screen point; overLink is the
    // character position whose link it offers (-1: none).
    void openContextMenu(const QPoint& globalPos, qsizetype overLink);
    QMenu* contextMenu() const { return m_menu; }
    // The link under a viewport point or holding a position (target empty when none).
    ReplyLinks::Link linkAtPoint(const QPoint& point) const;
    ReplyLinks::Link linkAtPosition(qsizetype position) const;
    ReplyFinder& finder() const { return *m_finder; }
    // The Find window, shown beside the box's window (made on first use).
    void showFind();
    FindWindow* findWindow() const { return m_findWindow; }
    // F3 and Shift+F3: the last search again, or the Find window when there was none.
    void findAgain(bool backward);
    void stopSearch();
    double fontPointSize() const;
    // Clamped to the zoom range; keeps the line at the top of the view.
    void setFontPointSize(double points);
    void zoomIn();
    void zoomOut();
    void resetZoom();

signals:
    void selectionChanged();
    // What the reader asked for, for the window to do: follow a link (Ctrl+click
    // or Open Link), or Copy and Select All from the context menu, which do
    // exactly what the window's Edit menu does.
    void linkActivated(const QString& target);
    void copyRequested();
    void selectAllRequested();
    // A search ended (see ReplyFinder).
    void searchEnded(bool found, const QString& statusText);
    void fontPointSizeChanged(double points);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Space between the viewport's edge and the first line and column.
    static constexpr int kMargin = 2;

    void textReplaced();
    void offerPrimarySelection();
    void textAppended();
    void textDropped(qsizetype bytes, qsizetype lines);
    void textRelaidOut();
    void updateMetrics();
    void updateScrollBars();
    int visibleLines() const;
    qsizetype visibleColumns() const;
    // The line and fractional column under a viewport point, the line clamped to the text.
    std::pair<qsizetype, qreal> cellAt(const QPoint& point) const;
    qsizetype positionAt(const QPoint& point) const;
    const QPixmap& symbolPixmap(uchar c, bool selected) const;
    void paintLine(QPainter& painter, qsizetype line, int y, qsizetype firstColumn, qsizetype columns) const;
    void moveCaret(qsizetype position, bool extend, bool keepGoalColumn = false);
    void setAnchorAndCaret(qsizetype anchor, qsizetype caret);
    void ensureCaretVisible();
    void setUpReader();
    void paintLinks(QPainter& painter, qsizetype line, int y, qsizetype firstColumn, qsizetype lastColumn) const;
    // Right button: a click outside the selection moves the caret there first.
    void rightPress(const QPoint& point);
    void showLinkPointer(const QPoint& point);
    QPoint caretMenuPoint() const;

    ReplyText m_text;
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qsizetype m_goalColumn = -1; // column kept while moving up and down
    qreal m_charWidth = 1;
    int m_lineHeight = 1;
    int m_ascent = 0;
    bool m_dragging = false;
    mutable std::unordered_map<int, QPixmap> m_symbols; // drawn control symbols, by byte and selection
    QMenu* m_menu = nullptr;
    QAction* m_openLink = nullptr;
    QAction* m_copyLink = nullptr;
    QAction* m_linkSeparator = nullptr;
    QAction* m_copy = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_find = nullptr;
    QString m_menuLink; // the target the open menu offers
    ReplyFinder* m_finder = nullptr;
    FindWindow* m_findWindow = nullptr;
    int m_wheelZoom = 0; // Ctrl+wheel angle not yet a whole step
};
