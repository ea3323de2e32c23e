#include "RecordingPrinter.h"

#include "RecordingPlatform.h"

QList<PrintOp> PrintLog::of(PrintOp::Kind kind) const
{
    QList<PrintOp> found;
    for (const PrintOp& op : ops) {
        if (op.kind == kind)
            found.append(op);
    }
    return found;
}

QStringList PrintLog::printedTexts() const
{
    QStringList texts;
    for (const PrintOp& op : of(PrintOp::Text))
        texts.append(op.text);
    return texts;
}

bool RecordingPrinter::record(PrintOp::Kind kind, const QString& text, double value, const QLineF& line, QRgb color)
{
    PrintOp op;
    op.kind = kind;
    op.failed = m_log.failing.contains(kind);
    op.page = m_page;
    op.x = m_x;
    op.y = m_y;
    op.face = m_face;
    op.size = m_size;
    op.bold = m_bold;
    op.italic = m_italic;
    op.underline = m_underline;
    op.text = text;
    op.value = value;
    op.line = line;
    op.color = color;
    op.lineWidth = m_lineWidth;
    m_log.ops.append(op);
    if (m_log.onOp)
        m_log.onOp(op);
    if (op.failed)
        m_error = m_log.failureText;
    return !op.failed;
}

void RecordingPrinter::setCurrentX(double x)
{
    record(PrintOp::SetX, {}, x);
    m_x = x;
}

void RecordingPrinter::setCurrentY(double y)
{
    record(PrintOp::SetY, {}, y);
    m_y = y;
}

bool RecordingPrinter::setFontName(const QString& face)
{
    if (!record(PrintOp::FontName, face))
        return false;
    m_face = face;
    return true;
}

bool RecordingPrinter::setFontSize(double points)
{
    if (!record(PrintOp::FontSize, {}, points))
        return false;
    m_size = points;
    return true;
}

bool RecordingPrinter::setFontBold(bool on)
{
    if (!record(PrintOp::Bold, {}, on))
        return false;
    m_bold = on;
    return true;
}

bool RecordingPrinter::setFontItalic(bool on)
{
    if (!record(PrintOp::Italic, {}, on))
        return false;
    m_italic = on;
    return true;
}

bool RecordingPrinter::setFontUnderline(bool on)
{
    if (!record(PrintOp::Underline, {}, on))
        return false;
    m_underline = on;
    return true;
}

bool RecordingPrinter::printText(const QString& text)
{
    if (!record(PrintOp::Text, text))
        return false;
    m_x = 0;
    m_y += heightAt(m_size);
    return true;
}

bool RecordingPrinter::setLineWidth(int dots)
{
    if (!record(PrintOp::LineWidth, {}, dots))
        return false;
    m_lineWidth = dots;
    return true;
}

bool RecordingPrinter::drawLine(double x1, double y1, double x2, double y2, QRgb color)
{
    return record(PrintOp::Line, {}, 0, QLineF(x1, y1, x2, y2), color);
}

bool RecordingPrinter::newPage()
{
    if (!record(PrintOp::NewPage))
        return false;
    ++m_page;
    m_x = 0;
    m_y = 0;
    return true;
}

bool RecordingPrinter::endDocument()
{
    return record(PrintOp::End);
}

void installRecordingPrinter(PrintLog& log)
{
    recordingPlatform().printerFactory = [&log]() -> std::unique_ptr<PrinterDevice> {
        ++log.devicesMade;
        return std::make_unique<RecordingPrinter>(log);
    };
}
