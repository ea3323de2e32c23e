#pragma once

#include <QtGlobal>

class QMimeData;
class ReplyText;

// The characters [start, start + length) of the reply box's text, as shown, as
// clipboard data. The text is made only when another program asks for it, so
// offering a selection while it is dragged over a huge reply costs nothing;
// the bytes are shared, not copied.
QMimeData* replySelection(const ReplyText& text, qsizetype start, qsizetype length);
