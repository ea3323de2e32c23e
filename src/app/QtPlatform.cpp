#include "app/QtPlatform.h"

#include "app/PrinterDevice.h"
#include "app/QtPrinterDevice.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#endif

Platform::Answer QtPlatform::messageBox(QWidget* parent, const QString& text, Icon icon, const QString& caption,
                                        Buttons buttons)
{
    QMessageBox box(parent);
    box.setText(text);
    box.setWindowTitle(messageBoxCaption(caption));
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    }
    if (buttons == Buttons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return Answer::Ok;
}

Platform::SaveResult QtPlatform::saveFileName(QWidget* parent, const QString& proposedName)
{
    // The dialog opens in its current folder, as the previous use left it.
    static QString lastFolder = QDir::homePath();
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // Ask before replacing an existing file; no type filter, so every file is listed.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setNameFilter(QString());
    dialog.setDirectory(lastFolder);
    dialog.selectFile(proposedName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return {QString(), true};
    lastFolder = QFileInfo(chosen.first()).absolutePath();
    return {chosen.first(), false};
}

QAction* QtPlatform::popupMenu(QMenu* menu, const QPoint& at)
{
    return menu->exec(at);
}

int QtPlatform::LaunchDocument(const QString& target, const QString& parameters, int showCommand,
                               const QString& directory, const QString& operation, WId ownerWindow)
{
#ifdef Q_OS_WIN
    auto orNull = [](const QByteArray& s) { return s.isEmpty() ? nullptr : s.constData(); };
    const QByteArray op = operation.toLocal8Bit(), file = target.toLocal8Bit(), params = parameters.toLocal8Bit(),
                     dir = directory.toLocal8Bit();
    const auto result = ShellExecuteA(reinterpret_cast<HWND>(ownerWindow), orNull(op), orNull(file), orNull(params),
                                      orNull(dir), showCommand);
    return static_cast<int>(reinterpret_cast<qintptr>(result));
#else
    Q_UNUSED(parameters)
    Q_UNUSED(showCommand)
    Q_UNUSED(directory)
    Q_UNUSED(operation)
    Q_UNUSED(ownerWindow)
    // Keep the shell's convention: 33 is a success, 2 (file not found) a failure.
    const QUrl url = QUrl::fromUserInput(target);
    return QDesktopServices::openUrl(url) ? 33 : 2;
#endif
}

std::unique_ptr<PrinterDevice> QtPlatform::defaultPrinter(QString* errorText)
{
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        if (errorText) {
            *errorText = QPrinterInfo::availablePrinterNames().isEmpty()
                             ? QObject::tr("No printer is installed. Install a printer, then print again.")
                             : QObject::tr("No default printer is chosen. Choose one, then print again.");
        }
        return nullptr;
    }
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    if (!printer->isValid()) {
        if (errorText)
            *errorText = QObject::tr("The printer %1 cannot be used.").arg(info.printerName());
        return nullptr;
    }
    return std::make_unique<QtPrinterDevice>(std::move(printer));
}

QDateTime QtPlatform::now()
{
    return QDateTime::currentDateTime();
}

QSize QtPlatform::screenSize()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->size() : QSize(1024, 768);
}
