#pragma once

#include "app/PrinterDevice.h"

#include <QLineF>
#include <QList>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

// What a print run did to the printer, operation by operation.
struct PrintOp
{
    enum Kind { Quality, Copies, DocName, SetX, SetY, FontName, FontSize, Bold, Italic, Underline, Text, LineWidth, Line,
                NewPage, End, Abort };
    Kind kind;
    bool failed = false;
    // The printer's state when the operation was asked for.
    int page = 1;
    double x = 0;
    double y = 0;
    QString face;
    double size = 0;
    bool bold = false;
    bool italic = false;
    bool underline = false;
    // The operation's argument.
    QString text;
    double value = 0;
    QLineF line;
    QRgb color = 0;
    int lineWidth = 0;
};

struct PrintLog
{
    QList<PrintOp> ops;
    int devicesMade = 0;
    // Operations that fail, with this reason.
    QSet<PrintOp::Kind> failing;
    QString failureText = QStringLiteral("The printer is out of paper.");
    // Runs after each operation is recorded.
    std::function<void(const PrintOp&)> onOp;
    // Shorter paper for a run, in twips (0: the printer's own); the margins stay.
    double pageHeight = 0;

    QList<PrintOp> of(PrintOp::Kind kind) const;
    QStringList printedTexts() const;
    bool has(PrintOp::Kind kind) const { return !of(kind).isEmpty(); }
};

// A legal-size page (tall enough for 69 body lines in this metric) with
// quarter-inch margins and a simple metric: a character is 12 twips wide per
// point of font size, a line 24 twips high per point.
class RecordingPrinter final : public PrinterDevice
{
public:
    static constexpr double kPageWidth = 12240;
    static constexpr double kPageHeight = 20160;
    static constexpr double kPrintableWidth = 11520;
    static constexpr double kPrintableHeight = 19440;
    // The face and size the printer holds before the run sets any.
    static inline const QString kStartFace = QStringLiteral("Courier New");
    static constexpr double kStartSize = 12;

    static double widthOf(const QString& text, double size) { return text.size() * size * 12; }
    static double heightAt(double size) { return size * 24; }

    explicit RecordingPrinter(PrintLog& log) : m_log(log) {}

    bool setPrintQualityHigh() override { return record(PrintOp::Quality); }
    bool setCopyCount(int copies) override { return record(PrintOp::Copies, {}, copies); }
    bool setDocumentName(const QString& name) override { return record(PrintOp::DocName, name); }
    double pageWidth() const override { return kPageWidth; }
    double pageHeight() const override { return m_log.pageHeight > 0 ? m_log.pageHeight : kPageHeight; }
    double printableWidth() const override { return kPrintableWidth; }
    double printableHeight() const override { return pageHeight() - (kPageHeight - kPrintableHeight); }
    double currentX() const override { return m_x; }
    double currentY() const override { return m_y; }
    void setCurrentX(double x) override;
    void setCurrentY(double y) override;
    int page() const override { return m_page; }
    QString fontName() const override { return m_face; }
    double fontSize() const override { return m_size; }
    bool setFontName(const QString& face) override;
    bool setFontSize(double points) override;
    bool setFontBold(bool on) override;
    bool setFontItalic(bool on) override;
    bool setFontUnderline(bool on) override;
    double textWidth(const QString& text) const override { return widthOf(text, m_size); }
    double textHeight(const QString&) const override { return heightAt(m_size); }
    bool printText(const QString& text) override;
    bool setLineWidth(int dots) override;
    bool drawLine(double x1, double y1, double x2, double y2, QRgb color) override;
    bool newPage() override;
    bool endDocument() override;
    void abortDocument() override { record(PrintOp::Abort); }
    QString errorString() const override { return m_error; }

private:
    bool record(PrintOp::Kind kind, const QString& text = {}, double value = 0, const QLineF& line = {},
                QRgb color = 0);

    PrintLog& m_log;
    QString m_face = kStartFace;
    double m_size = kStartSize;
    bool m_bold = false;
    bool m_italic = false;
    bool m_underline = false;
    double m_x = 0;
    double m_y = 0;
    int m_page = 1;
    int m_lineWidth = 1;
    QString m_error;
};

// Hands out recording printers that write into log.
void installRecordingPrinter(PrintLog& log);
