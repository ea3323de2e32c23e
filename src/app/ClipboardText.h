#pragma once

#include <QString>
#include <QStringView>

class QMimeData;
class ReplyText;

// Text that leaves the program through the clipboard or the primary selection.
namespace ClipboardText {

// The platform's line ends, as other programs expect them when they paste: LF
// on Linux and other Unix systems, CR LF on Windows. CR LF, a lone CR and a
// lone LF each count as one line end.
QString withPlatformLineEnds(QStringView text);

// The characters [start, start + length) of the reply box's text, as shown, as
// clipboard data. The text is made only when another program asks for it, so
// offering a selection while it is dragged over a huge reply costs nothing;
// the bytes are shared, not copied.
QMimeData* replySelection(const ReplyText& text, qsizetype start, qsizetype length);

} // namespace ClipboardText
