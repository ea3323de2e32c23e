#pragma once

#include <QString>
#include <QStringView>

// Text that leaves the program through the clipboard or the primary selection.
namespace ClipboardText {

// The platform's line ends, as other programs expect them when they paste: LF
// on Linux and other Unix systems, CR LF on Windows. CR LF, a lone CR and a
// lone LF each count as one line end.
QString withPlatformLineEnds(QStringView text);

} // namespace ClipboardText
