#include "app/ReplyBox.h"

// Placeholder until the view lands.
ReplyBox::ReplyBox(QWidget* parent) : QAbstractScrollArea(parent) {}
ReplyBox::~ReplyBox() = default;
void ReplyBox::setText(const QString& text) { m_data = text.toLatin1(); }
void ReplyBox::append(const QByteArray& block) { m_data += block; }
void ReplyBox::clear() { m_data.clear(); }
qsizetype ReplyBox::selStart() const { return 0; }
qsizetype ReplyBox::selLength() const { return 0; }
QString ReplyBox::selectedText() const { return {}; }
void ReplyBox::setSelection(qsizetype, qsizetype) {}
void ReplyBox::selectAll() {}
QByteArray ReplyBox::lineText(qsizetype) const { return {}; }
void ReplyBox::paintEvent(QPaintEvent*) {}
void ReplyBox::resizeEvent(QResizeEvent* e) { QAbstractScrollArea::resizeEvent(e); }
void ReplyBox::keyPressEvent(QKeyEvent* e) { QAbstractScrollArea::keyPressEvent(e); }
void ReplyBox::mousePressEvent(QMouseEvent* e) { QAbstractScrollArea::mousePressEvent(e); }
void ReplyBox::mouseMoveEvent(QMouseEvent* e) { QAbstractScrollArea::mouseMoveEvent(e); }
void ReplyBox::mouseDoubleClickEvent(QMouseEvent* e) { QAbstractScrollArea::mouseDoubleClickEvent(e); }
void ReplyBox::scrollContentsBy(int dx, int dy) { QAbstractScrollArea::scrollContentsBy(dx, dy); }
