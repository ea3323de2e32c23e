#pragma once

#include <QString>
#include <QStringList>

// How the feedback window turns typed text into a mail body: the line ends,
// the length of a line and the blocks it is handed over in. The SMTP client
// then encodes the body for the wire (SmtpDataEncoder: CR LF, dot lines).
namespace MailText {

inline const QString kCrLf = QStringLiteral("\r\n");

// Every line break (LF, CR or CR LF) as CR LF, the form a mail server expects
// and the form a text box held on the platform this program comes from.
QString toCrLf(const QString& text);
// Lines longer than a mail line may be (998 characters before its CR LF)
// broken after their last blank within the limit, or at the limit when there
// is none. No character is dropped. The text's line ends must be CR LF.
QString wrapLongLines(const QString& text, qsizetype limit = 998);
// The text in blocks of size characters; the last block holds what is left,
// even when nothing is.
QStringList blocks(const QString& text, qsizetype size);

} // namespace MailText
