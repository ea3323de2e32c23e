#include "app/QtPlatform.h"

#include "app/PrinterDevice.h"
#include "app/QtPrinterDevice.h"
#include "app/SaveTarget.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#ifdef Q_OS_WIN
#include <windows.h>
#include <shellapi.h>
#endif

#ifndef Q_OS_WIN
namespace {
enum class LaunchOutcome { Opened, Failed, StillRunning };

// Runs the desktop's launcher and waits a little for its verdict, with the
// window still painting and the network served meanwhile. Input waits, so
// nothing the user does can pull the window away under the caller.
LaunchOutcome runLauncher(const QString& program, const QString& document, int waitMs)
{
    // Owned by the application: a launcher still running after the wait
    // (one that stays with the browser it started) is left to finish.
    auto* process = new QProcess(qApp);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QEventLoop loop;
    QObject::connect(process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(process, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    process->start(program, {document});
    if (process->state() != QProcess::NotRunning)
        loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (process->state() != QProcess::NotRunning) {
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        return LaunchOutcome::StillRunning;
    }
    const bool opened = process->error() != QProcess::FailedToStart && process->exitStatus() == QProcess::NormalExit
                        && process->exitCode() == 0;
    process->deleteLater();
    return opened ? LaunchOutcome::Opened : LaunchOutcome::Failed;
}
} // namespace
#endif

QtPlatform::QtPlatform(int launchWaitMs) : m_launchWaitMs(launchWaitMs) {}

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
    box.setStandardButtons(buttons == Buttons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok);
    // The title bar shows the caption whole: the box is at least as wide as
    // the caption (in a title bar's bold) and the frame's icon and buttons.
    // (After the icon and buttons: setting them lays the box out afresh.)
    QFont titleFont = box.font();
    titleFont.setBold(true);
    const int captionWidth = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + 120;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(),
                      0, 1, grid->columnCount());
    if (buttons == Buttons::YesNo)
        return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
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
    for (;;) {
        if (dialog.exec() != QDialog::Accepted)
            return {};
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty())
            return {QString(), true};
        // Qt's own dialog has a name field; a desktop's dialog gives only the path.
        auto* nameField = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        const QString typed = nameField ? nameField->text() : chosen.first();
        // A missing folder, a read-only file or a write-protected folder is
        // refused here, and the dialog comes back with the name as typed
        // (a desktop's own dialog may already have closed, so it opens again).
        const QString problem = saveTargetProblem(chosen.first());
        if (problem.isEmpty()) {
            lastFolder = QFileInfo(chosen.first()).absolutePath();
            return {chosen.first(), false};
        }
        QMessageBox::warning(&dialog, dialog.windowTitle(), problem);
        const QFileInfo refused(chosen.first());
        if (refused.absoluteDir().exists())
            dialog.setDirectory(refused.absolutePath());
        if (refused.absoluteDir().exists()) {
            dialog.selectFile(refused.fileName());
        } else {
            // selectFile() would cut a path in a missing folder down (its leading "/" lost).
            dialog.selectFile(chosen.first());
            if (nameField)
                nameField->setText(typed);
        }
    }
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
    // The launcher's exit status says whether anything could handle the
    // target: starting it is not enough (xdg-open starts even when no browser
    // or mail program is set up). The shell's convention: 33 opened, 2 not.
    const QUrl url = QUrl::fromUserInput(target);
    const QString document = url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded);
#ifdef Q_OS_MACOS
    const QString launcher = QStringLiteral("open");
#else
    const QString launcher = QStringLiteral("xdg-open");
#endif
    switch (runLauncher(launcher, document, m_launchWaitMs)) {
    case LaunchOutcome::Opened:
    case LaunchOutcome::StillRunning: return 33;
    case LaunchOutcome::Failed: break;
    }
    return 2;
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
