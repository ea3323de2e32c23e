#include "output/Transcript.h"

#include "app/MainWindowPort.h"
#include "app/Platform.h"
#include "app/PrinterDevice.h"
#include "app/Settings.h"
#include "output/TranscriptText.h"
#include "reply/ReplyBox.h"

#include <QApplication>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#endif

using namespace TranscriptText;

namespace {
const QString kBodyFont = QStringLiteral("Arial");
constexpr qint16 kBodySize = 10;

// The screen-wide hourglass of a print run, taken down exactly once.
class PrintCursor
{
public:
    PrintCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~PrintCursor() { restore(); }
    void restore()
    {
        if (m_shown)
            QApplication::restoreOverrideCursor();
        m_shown = false;
    }

private:
    bool m_shown = true;
};
// Writes until all is written; the call after a short write fails with the cause (disk full, ...).
bool writeAll(QFileDevice& file, const QByteArray& data)
{
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 chunk = file.write(data.constData() + written, data.size() - written);
        if (chunk <= 0)
            return false;
        written += chunk;
    }
    return true;
}

#ifdef Q_OS_UNIX
// The new file takes over what the old one carried: its mode, then its
// extended attributes, ACLs among them (after the mode, which would reset an
// ACL's mask). What the file system refuses (another's label) is let go.
void keepModeAndAttributes(const QString& fileName, int fd)
{
    const QByteArray path = QFile::encodeName(fileName);
    struct stat old = {};
    if (::stat(path.constData(), &old) != 0)
        return;
    ::fchmod(fd, old.st_mode & 07777);
    const ssize_t size = ::listxattr(path.constData(), nullptr, 0);
    if (size <= 0)
        return;
    QByteArray names(size, '\0');
    const ssize_t got = ::listxattr(path.constData(), names.data(), names.size());
    for (const QByteArray& name : names.left(std::max<ssize_t>(got, 0)).split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t length = ::getxattr(path.constData(), name.constData(), nullptr, 0);
        if (length < 0)
            continue;
        QByteArray value(length, '\0');
        if (::getxattr(path.constData(), name.constData(), value.data(), value.size()) == length)
            ::fsetxattr(fd, name.constData(), value.constData(), value.size(), 0);
    }
}
#endif

// The text goes to a temporary file beside the target that replaces it only
// when complete, so a failed save leaves any earlier file intact. Unbuffered,
// so a short write shows up here: a buffered one failing in commit()'s flush
// would still replace the target with a cut-off file. Empty when saved.
QString saveReplacing(const QString& fileName, const QByteArray& text)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
#ifdef Q_OS_UNIX
    keepModeAndAttributes(fileName, file.handle());
#endif
    if (!writeAll(file, text) || !writeAll(file, QByteArrayLiteral("\r\n"))) {
        const QString error = file.errorString(); // before cancelWriting() puts its own text there
        file.cancelWriting();
        return error;
    }
    return file.commit() ? QString() : file.errorString();
}

// Written in place: opened and truncated, never replaced. Empty when written.
QString writeInPlace(const QString& fileName, const QByteArray& text)
{
    QFile file;
#ifdef Q_OS_UNIX
    // Opened without blocking, so a pipe that no one reads fails at once
    // instead of holding the program up until a reader comes.
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle);
    // A reader that goes away half-way fails the write instead of ending the program.
    struct sigaction ignore = {};
    struct sigaction previous = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &previous);
    const bool written = writeAll(file, text) && writeAll(file, QByteArrayLiteral("\r\n"));
    ::sigaction(SIGPIPE, &previous, nullptr);
#else
    file.setFileName(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return file.errorString();
    const bool written = writeAll(file, text) && writeAll(file, QByteArrayLiteral("\r\n"));
#endif
    return written ? QString() : file.errorString();
}

// Replacing would break a device, a pipe, a file's other hard links, or
// another user's ownership of the file: those are written where they are.
bool writesInPlace(const QString& fileName)
{
    const QFileInfo target(fileName);
    if (!target.exists() || target.isDir())
        return false;
    if (!target.isFile())
        return true;
#ifdef Q_OS_UNIX
    struct stat status = {};
    return ::stat(QFile::encodeName(fileName).constData(), &status) == 0
           && (status.st_nlink > 1 || status.st_uid != ::geteuid());
#else
    return false;
#endif
}
} // namespace

Transcript::Transcript(MainWindowPort& window) : m_window(window) {}
Transcript::~Transcript() = default;

void Transcript::mnuSave_Click()
{
    // The time stamp is the moment of the menu choice, before the dialog opens.
    const QByteArray block = saveBlock(m_window.replyBox()->data(), generalDateTime(platform().now()));
    const QString fileName = GetFileName(kProposedFileName);
    if (fileName.isEmpty())
        return;
    SaveFileAs(fileName, block);
}

QString Transcript::GetFileName(const QString& proposedName)
{
    const Platform::SaveResult chosen = platform().saveFileName(m_window.dialogParent(), proposedName);
    // A dialog that failed chose nothing: never write where the user did not point.
    if (chosen.failed)
        return {};
    return chosen.fileName;
}

void Transcript::SaveFileAs(const QString& fileName, const QByteArray& text)
{
    const bool wasBusy = m_window.isBusy();
    m_window.setBusy(true);
    const QString error = writesInPlace(fileName) ? writeInPlace(fileName, text) : saveReplacing(fileName, text);
    m_window.setBusy(wasBusy);
    if (!error.isEmpty())
        platform().messageBox(m_window.dialogParent(), error, Platform::Icon::Exclamation, kAppTitle);
}

void Transcript::mnuPrint_Click()
{
    printMessage();
}

bool Transcript::isPrinting() const
{
    return m_printing;
}

void Transcript::printMessage()
{
    // Pending events run after every line, and the menu item could be chosen again then.
    if (m_printing)
        return;
    m_printing = true;
    PrintCursor cursor;
    const QString savedStatus = m_window.statusText();
    m_window.setStatusText(QStringLiteral("Printing Message..."));

    // The run works on its own copy; later replies do not change it.
    const QByteArray body = m_window.replyBox()->data();
    const ReplyText::Spans utf8 = m_window.replyBox()->model().utf8Spans();
    // The header names where the reply came from, not what the boxes hold by now.
    const QString host = m_window.replyHost();
    QString subject = headerSubject(host, m_window.replyUser());

    QString error;
    m_printer = platform().defaultPrinter(&error);
    bool ok = m_printer && m_printer->setPrintQualityHigh() && m_printer->setCopyCount(1)
              && m_printer->setDocumentName(documentName(host)) && PrintHeader(subject)
              && setprinterfont(kBodyFont, kBodySize, 0, 0, 0);
    if (ok) {
        CrLineWalker walker(body);
        QByteArray line;
        int lineCounter = 0;
        const auto fits = [this](const QString& text) {
            return m_printer->currentY() + m_printer->textHeight(text) <= m_printer->printableHeight();
        };
        const auto nextPage = [&] {
            return m_printer->newPage() && PrintHeader(subject) && setprinterfont(kBodyFont, kBodySize, 0, 0, 0);
        };
        while (walker.next(line)) {
            const QString text = ReplyText::decode(body, utf8, walker.lineStart(), walker.lineStart() + line.size());
            if (countBodyLine(lineCounter, fits(text))) {
                ok = nextPage();
                if (!ok)
                    break;
            }
            pOut(text);
            QCoreApplication::processEvents();
        }
        // The last piece is not counted, but it too must land on the paper.
        const QString rest = ReplyText::decode(body, utf8, walker.restStart(), body.size());
        if (ok && !fits(rest))
            ok = nextPage();
        if (ok)
            pOut(rest);
    }
    if (ok) {
        cursor.restore();
        ok = m_printer->endDocument();
    }
    if (ok) {
        m_window.setStatusText(savedStatus);
        m_printer.reset();
        m_printing = false;
        return;
    }

    if (m_printer) {
        error = m_printer->errorString();
        // A job cut short is cancelled rather than left open.
        m_printer->abortDocument();
        m_printer.reset();
    }
    if (error.isEmpty())
        error = tr("No printer is installed.");
    cursor.restore();
    m_window.setStatusText(savedStatus);
    m_printing = false;
    platform().messageBox(m_window.dialogParent(), error, Platform::Icon::Critical, QStringLiteral("Print Error"));
}

bool Transcript::PrintHeader(QString& subject)
{
    PrinterDevice& printer = *m_printer;
    printer.setCurrentY((printer.pageHeight() - printer.printableHeight()) / 2);
    shortenHeaderSubject(subject);
    QString header = headerText(subject, printer.page());
    pOut(QString());
    if (!printer.setFontSize(7) || !printer.setFontItalic(true) || !printer.setFontBold(true))
        return false;
    header = padHeader(header, printer.pageWidth(), printer.printableWidth(),
                       [&printer](const QString& text) { return printer.textWidth(text); });
    pOut(header);
    if (!printer.setFontSize(2))
        return false;
    pOut(QString());
    DrawVertLine();
    pOut(QString());
    return true;
}

void Transcript::pOut(const QString& line)
{
    // A line that fails to print is skipped; the run goes on.
    m_printer->setCurrentX(0);
    m_printer->printText(line);
}

void Transcript::DrawVertLine()
{
    // A horizontal rule under the header; a failure only loses the rule.
    PrinterDevice& printer = *m_printer;
    printer.setLineWidth(5);
    const double y = qRound(printer.currentY() - printer.textHeight(QStringLiteral("A")) / 4);
    const double x2 = qRound(printer.printableWidth());
    printer.drawLine(0, y, x2, y, qRgb(0, 0, 0));
}

bool Transcript::setprinterfont(const QString& face, qint16 size, qint16 bold, qint16 italic, qint16 underline)
{
    PrinterDevice& printer = *m_printer;
    return printer.setFontName(face) && printer.setFontSize(size) && printer.setFontBold(bold != 0)
           && printer.setFontItalic(italic != 0) && printer.setFontUnderline(underline != 0);
}
