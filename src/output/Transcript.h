#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>

class MainWindowPort;
class PrinterDevice;

// Saving and printing the reply box; the window is reached through its port.
class Transcript : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Transcript)

public:
    explicit Transcript(MainWindowPort& window);
    ~Transcript() override;

    // "Save &As...": the reply text with its comment header, to a file the user picks.
    void mnuSave_Click();
    // The platform's Save As dialog; the chosen path, or empty when nothing was chosen.
    QString GetFileName(const QString& proposedName);
    // Writes the text and a closing CR LF, replacing the file only once all of it is written.
    void SaveFileAs(const QString& fileName, const QByteArray& text);

    // "&Print": the reply text on the default printer. Refused while a run is under way.
    void mnuPrint_Click();
    void printMessage();
    // True while a print run is under way.
    bool isPrinting() const;

private:
    // These work on the device of the run under way; false sends the run down its failure path.
    bool PrintHeader(QString& subject);
    void pOut(const QString& line);
    void DrawVertLine();
    bool setprinterfont(const QString& face, qint16 size, qint16 bold, qint16 italic, qint16 underline);

    MainWindowPort& m_window;
    std::unique_ptr<PrinterDevice> m_printer;
    bool m_printing = false;
};
