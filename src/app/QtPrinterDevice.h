#pragma once

#include "app/PrinterDevice.h"

#include <QFont>
#include <QPainter>

#include <memory>

class QPrinter;

// A printer driven in twips over QPrinter and QPainter. The job starts with
// the first output; one left unfinished is cancelled when the device goes.
class QtPrinterDevice final : public PrinterDevice
{
public:
    explicit QtPrinterDevice(std::unique_ptr<QPrinter> printer);
    ~QtPrinterDevice() override;
    Q_DISABLE_COPY_MOVE(QtPrinterDevice)

    bool setPrintQualityHigh() override;
    bool setCopyCount(int copies) override;
    bool setDocumentName(const QString& name) override;

    double pageWidth() const override;
    double pageHeight() const override;
    double printableWidth() const override;
    double printableHeight() const override;

    double currentX() const override { return m_x; }
    double currentY() const override { return m_y; }
    void setCurrentX(double x) override { m_x = x; }
    void setCurrentY(double y) override { m_y = y; }
    int page() const override { return m_page; }

    QString fontName() const override { return m_face; }
    double fontSize() const override { return m_font.pointSizeF(); }
    bool setFontName(const QString& face) override;
    bool setFontSize(double points) override;
    bool setFontBold(bool on) override;
    bool setFontItalic(bool on) override;
    bool setFontUnderline(bool on) override;

    double textWidth(const QString& text) const override;
    double textHeight(const QString& text) const override;

    bool printText(const QString& text) override;
    bool setLineWidth(int dots) override;
    bool drawLine(double x1, double y1, double x2, double y2, QRgb color) override;
    bool newPage() override;
    bool endDocument() override;
    void abortDocument() override;

    QString errorString() const override { return m_error; }

private:
    bool start();
    bool fail(const QString& reason);
    bool printerFailed();
    double toDevice(double twips) const;
    double toTwips(double pixels) const;

    std::unique_ptr<QPrinter> m_printer;
    QPainter m_painter;
    QFont m_font;
    QString m_face;
    double m_x = 0;
    double m_y = 0;
    int m_page = 1;
    int m_lineWidth = 1;
    bool m_started = false;
    bool m_finished = false;
    QString m_error;
};
