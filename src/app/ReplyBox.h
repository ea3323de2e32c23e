#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>

#include <vector>

// The reply box: a read-only text view that keeps the exact text it was given
// (every CR, LF and NUL) and paints only the lines and columns in view, so a
// hostile reply of one huge line or many megabytes cannot freeze the window.
// A line ends at CR LF, LF or a lone CR; a CR ending one append and an LF
// starting the next are one break. Characters are one byte each (Latin-1).
class ReplyBox : public QAbstractScrollArea
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReplyBox)

public:
    explicit ReplyBox(QWidget* parent = nullptr);
    ~ReplyBox() override;

    // The exact text, one byte per character.
    const QByteArray& data() const { return m_data; }
    QString text() const { return QString::fromLatin1(m_data); }
    qsizetype length() const { return m_data.size(); }

    void setText(const QString& text);
    void append(const QByteArray& block);
    void append(const QString& block) { append(block.toLatin1()); }
    void clear();

    // Selection, in characters of the exact text.
    qsizetype selStart() const;
    qsizetype selLength() const;
    QString selectedText() const;
    void setSelection(qsizetype start, qsizetype length);
    void selectAll();

    // The line index: number of lines and where each starts.
    qsizetype lineCount() const { return static_cast<qsizetype>(m_lineStarts.size()); }
    qsizetype lineStart(qsizetype line) const { return m_lineStarts.at(static_cast<size_t>(line)); }
    // The text of one line without its line end.
    QByteArray lineText(qsizetype line) const;

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    QByteArray m_data;
    std::vector<qsizetype> m_lineStarts{0};
    qsizetype m_anchor = 0;
    qsizetype m_caret = 0;
    qsizetype m_widestLine = 0; // in columns, for the horizontal scroll range
};
