#include "app/QtPrinterDevice.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPen>
#include <QPrinter>

#include <algorithm>

namespace {
constexpr double kTwipsPerInch = 1440;
constexpr double kTwipsPerPoint = 20;

// Faces a Linux machine usually lacks, and their metric twins.
QString availableFace(const QString& face)
{
    if (QFontDatabase::hasFamily(face))
        return face;
    if (face.compare(QLatin1String("Arial"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Liberation Sans");
    if (face.compare(QLatin1String("Times New Roman"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Liberation Serif");
    if (face.compare(QLatin1String("Courier New"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Liberation Mono");
    return face;
}

QString tr(const char* text)
{
    return QCoreApplication::translate("QtPrinterDevice", text);
}

// The start of the text up to a little past room (device pixels). What lies
// beyond the printable area is lost anyway, and a reply line of megabytes
// would otherwise be laid out whole, at great cost in time and memory.
QString visiblePart(const QString& text, const QFontMetricsF& metrics, double room)
{
    qsizetype length = 256;
    while (length < text.size() && metrics.horizontalAdvance(text.left(length)) <= room)
        length *= 2;
    return length < text.size() ? text.left(length) : text;
}
} // namespace

QtPrinterDevice::QtPrinterDevice(std::unique_ptr<QPrinter> printer) : m_printer(std::move(printer))
{
    setFontName(QStringLiteral("Arial"));
    setFontSize(10);
}

QtPrinterDevice::~QtPrinterDevice()
{
    abortDocument();
}

bool QtPrinterDevice::fail(const QString& reason)
{
    m_error = reason;
    return false;
}

bool QtPrinterDevice::printerFailed()
{
    if (m_printer->printerState() != QPrinter::Error)
        return false;
    return !fail(tr("The printer reported an error."));
}

bool QtPrinterDevice::start()
{
    if (m_finished)
        return m_started ? fail(tr("The print job has already ended.")) : false; // the reason of the failed start stays
    if (m_started)
        return !printerFailed();
    if (!m_painter.begin(m_printer.get())) {
        const QString name =
            m_printer->outputFileName().isEmpty() ? m_printer->printerName() : m_printer->outputFileName();
        m_finished = true;
        return fail(tr("The print job could not be started on %1.").arg(name));
    }
    m_started = true;
    return true;
}

double QtPrinterDevice::toDevice(double twips) const
{
    return twips * m_printer->resolution() / kTwipsPerInch;
}

double QtPrinterDevice::toTwips(double pixels) const
{
    return pixels * kTwipsPerInch / m_printer->resolution();
}

bool QtPrinterDevice::setPrintQualityHigh()
{
    if (m_started)
        return fail(tr("The print quality cannot change once the job has started."));
    // Only ever raise it: a PDF printer lists just 72 dpi, which would turn dots into points.
    const QList<int> resolutions = m_printer->supportedResolutions();
    if (!resolutions.isEmpty()) {
        const int highest = *std::max_element(resolutions.begin(), resolutions.end());
        if (highest > m_printer->resolution())
            m_printer->setResolution(highest);
    }
    return true;
}

bool QtPrinterDevice::setCopyCount(int copies)
{
    if (m_started)
        return fail(tr("The number of copies cannot change once the job has started."));
    m_printer->setCopyCount(copies);
    return true;
}

bool QtPrinterDevice::setDocumentName(const QString& name)
{
    if (m_started)
        return fail(tr("The job's name cannot change once the job has started."));
    m_printer->setDocName(name);
    return true;
}

double QtPrinterDevice::pageWidth() const
{
    return m_printer->pageLayout().fullRect(QPageLayout::Point).width() * kTwipsPerPoint;
}

double QtPrinterDevice::pageHeight() const
{
    return m_printer->pageLayout().fullRect(QPageLayout::Point).height() * kTwipsPerPoint;
}

double QtPrinterDevice::printableWidth() const
{
    return m_printer->pageLayout().paintRect(QPageLayout::Point).width() * kTwipsPerPoint;
}

double QtPrinterDevice::printableHeight() const
{
    return m_printer->pageLayout().paintRect(QPageLayout::Point).height() * kTwipsPerPoint;
}

bool QtPrinterDevice::setFontName(const QString& face)
{
    m_face = face;
    m_font.setFamily(availableFace(face));
    return true;
}

bool QtPrinterDevice::setFontSize(double points)
{
    if (points <= 0)
        return fail(tr("Invalid font size."));
    m_font.setPointSizeF(points);
    return true;
}

bool QtPrinterDevice::setFontBold(bool on)
{
    m_font.setBold(on);
    return true;
}

bool QtPrinterDevice::setFontItalic(bool on)
{
    m_font.setItalic(on);
    return true;
}

bool QtPrinterDevice::setFontUnderline(bool on)
{
    m_font.setUnderline(on);
    return true;
}

double QtPrinterDevice::textWidth(const QString& text) const
{
    return toTwips(QFontMetricsF(m_font, m_printer.get()).horizontalAdvance(text));
}

// The font's height without external leading, as the classic text-height
// measure has it; with leading, 68 body lines of 10 points overrun an A4 page.
double QtPrinterDevice::textHeight(const QString&) const
{
    return toTwips(QFontMetricsF(m_font, m_printer.get()).height());
}

bool QtPrinterDevice::printText(const QString& text)
{
    if (!start())
        return false;
    const QFontMetricsF metrics(m_font, m_printer.get());
    if (!text.isEmpty()) {
        m_painter.setFont(m_font);
        m_painter.setPen(Qt::black);
        m_painter.drawText(QPointF(toDevice(m_x), toDevice(m_y) + metrics.ascent()),
                           visiblePart(text, metrics, toDevice(printableWidth() - m_x)));
    }
    m_x = 0;
    m_y += toTwips(metrics.height());
    return !printerFailed();
}

bool QtPrinterDevice::setLineWidth(int dots)
{
    m_lineWidth = dots;
    return true;
}

bool QtPrinterDevice::drawLine(double x1, double y1, double x2, double y2, QRgb color)
{
    if (!start())
        return false;
    m_painter.setPen(QPen(QColor::fromRgb(color), m_lineWidth, Qt::SolidLine, Qt::FlatCap));
    m_painter.drawLine(QPointF(toDevice(x1), toDevice(y1)), QPointF(toDevice(x2), toDevice(y2)));
    return !printerFailed();
}

bool QtPrinterDevice::newPage()
{
    if (!start())
        return false;
    if (!m_printer->newPage())
        return fail(tr("The printer could not start a new page."));
    ++m_page;
    m_x = 0;
    m_y = 0;
    return true;
}

bool QtPrinterDevice::endDocument()
{
    if (!start())
        return false;
    m_finished = true;
    if (!m_painter.end())
        return fail(tr("The print job could not be finished."));
    return !printerFailed();
}

void QtPrinterDevice::abortDocument()
{
    if (!m_started || m_finished)
        return;
    m_finished = true;
    m_printer->abort();
    if (m_painter.isActive())
        m_painter.end();
}
