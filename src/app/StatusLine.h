#pragma once

#include <QLabel>
#include <QStatusBar>

// The status line: one text, the last one set. A label keeps it, since
// QStatusBar's own message is cleared whenever a menu item is hovered.
class StatusLine : public QStatusBar
{
    Q_OBJECT

public:
    explicit StatusLine(QWidget* parent = nullptr) : QStatusBar(parent), m_label(new QLabel(this))
    {
        m_label->setObjectName(QStringLiteral("StatusText"));
        m_label->setTextFormat(Qt::PlainText);
        // A long text (a pasted host name) is cut at the edge; it must not
        // widen the window past the screen and hold it there.
        m_label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        addWidget(m_label, 1);
        setSizeGripEnabled(true);
    }

    QString text() const { return m_label->text(); }
    void setText(const QString& text) { m_label->setText(text); }

private:
    QLabel* m_label;
};
