#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <functional>

// The decisions behind saving and printing the transcript, free of widgets and
// devices so they can be checked directly.
namespace TranscriptText {

inline const QString kProposedFileName = QStringLiteral("Finger Quobix Log.txt");
// Body lines on a page before the next line opens a new one.
constexpr int kLinesPerPage = 68;
// A header subject longer than this is cut to kSubjectKeep characters and "....".
constexpr int kSubjectLimit = 90;
constexpr int kSubjectKeep = 85;

// The locale's long time format without its time-zone part, which the
// transcript's time stamp never carries.
QString longTimeFormatWithoutZone(const QLocale& locale);
// The general date-time form: short date, one blank, long time; the date
// alone at exactly midnight.
QString generalDateTime(const QDateTime& moment, const QLocale& locale = QLocale());

// The saved file's content block: the five header lines, the reply exactly
// as held, then CR LF. (Writing it appends one more CR LF.)
QByteArray saveBlock(const QByteArray& reply, const QString& dateCreated);

// The printed header's subject: the host, with " : User : " and the user when one is given.
QString headerSubject(const QString& host, const QString& user);
// Cuts a subject longer than 90 characters to its first 85 and "....", in place.
void shortenHeaderSubject(QString& subject);
// The print job's name, as print queues and PDF printers show it.
QString documentName(const QString& host);
// The header line of a page, before padding.
QString headerText(const QString& subject, int page);
// Right-aligns the header by putting blanks in front while the page's margin
// arithmetic says there is room. textWidth measures in the header's font.
QString padHeader(QString text, double pageWidth, double printableWidth,
                  const std::function<double(const QString&)>& textWidth);

// Counts one body line; true when that line opens a new page, in which case
// the counter starts again at 0 (the opening line itself is not counted).
// A line that would not fit below the last one opens a page however few the
// page holds, so paper shorter than 68 lines loses none.
bool countBodyLine(int& lineCounter, bool fitsOnPage = true);

// Walks the body text line by line: each line ends at a CR, and an LF right
// after the CR goes with it.
class CrLineWalker
{
public:
    explicit CrLineWalker(QByteArray text) : m_text(std::move(text)) {}

    // The next CR-ended line, without its CR; false when no CR is left.
    bool next(QByteArray& line);
    // What follows the last CR (the whole text when it holds none).
    QByteArray rest() const { return m_text.mid(m_pos); }
    // Where the line last walked starts, and where the rest starts.
    qsizetype lineStart() const { return m_lineStart; }
    qsizetype restStart() const { return m_pos; }

private:
    QByteArray m_text;
    qsizetype m_pos = 0;
    qsizetype m_lineStart = 0;
};

} // namespace TranscriptText
