#pragma once

#include <QRgb>
#include <QString>

// The default printer as the transcript printer drives it. All positions and
// sizes are in twips (1/1440 inch), measured from the top left corner of the
// printable area. The first output starts the print job.
//
// Operations that can fail return false and leave the reason in errorString().
class PrinterDevice
{
public:
    virtual ~PrinterDevice() = default;

    // Device settings, before the first output.
    virtual bool setPrintQualityHigh() = 0;
    virtual bool setCopyCount(int copies) = 0;
    // The job's name in the print queue (a PDF's title).
    virtual bool setDocumentName(const QString& name) = 0;

    // The physical paper and the printable area on it.
    virtual double pageWidth() const = 0;
    virtual double pageHeight() const = 0;
    virtual double printableWidth() const = 0;
    virtual double printableHeight() const = 0;

    virtual double currentX() const = 0;
    virtual double currentY() const = 0;
    virtual void setCurrentX(double x) = 0;
    virtual void setCurrentY(double y) = 0;
    // 1 on the first page.
    virtual int page() const = 0;

    virtual QString fontName() const = 0;
    virtual double fontSize() const = 0; // points
    virtual bool setFontName(const QString& face) = 0;
    virtual bool setFontSize(double points) = 0;
    virtual bool setFontBold(bool on) = 0;
    virtual bool setFontItalic(bool on) = 0;
    virtual bool setFontUnderline(bool on) = 0;

    // Measured in the current font.
    virtual double textWidth(const QString& text) const = 0;
    virtual double textHeight(const QString& text) const = 0;

    // Prints at the current position in the current font, then moves to the
    // start of the next line (x back to 0, y down by the font's line height).
    virtual bool printText(const QString& text) = 0;
    // In printer dots.
    virtual bool setLineWidth(int dots) = 0;
    virtual bool drawLine(double x1, double y1, double x2, double y2, QRgb color) = 0;
    // Ejects the page; the page number goes up and the position returns to the top left.
    virtual bool newPage() = 0;
    // Finishes the job and hands it to the spooler.
    virtual bool endDocument() = 0;
    // Cancels a job cut short, so nothing half-printed stays queued.
    virtual void abortDocument() = 0;

    virtual QString errorString() const = 0;
};
