#include "contact/SendForm.h"

#include "app/ClipboardText.h"
#include "app/FitText.h"
#include "app/Forms.h"
#include "app/Platform.h"
#include "app/Settings.h"
#include "app/Twips.h"
#include "contact/MailText.h"
#include "net/SmtpClient.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>

namespace {
constexpr int kClientWidth = 4440;
constexpr int kClientHeight = 4200;

using MailText::kCrLf;

// While a message goes out: the screen-wide hourglass and Send disabled,
// both undone however the send ends.
class SendingState
{
    Q_DISABLE_COPY_MOVE(SendingState)

public:
    explicit SendingState(QPushButton* button) : m_button(button)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_button->setEnabled(false);
    }
    ~SendingState()
    {
        m_button->setEnabled(true);
        QApplication::restoreOverrideCursor();
    }

private:
    QPushButton* m_button;
};

bool isTextBox(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QPlainTextEdit*>(widget);
}

QString selectedText(const QWidget* widget)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(widget))
        return line->selectedText();
    if (const auto* box = qobject_cast<const QPlainTextEdit*>(widget))
        return box->textCursor().selectedText().replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return {};
}

// Read-only boxes keep their text: Cut copies only and Paste does nothing there.
void replaceSelection(QWidget* widget, const QString& text)
{
    if (auto* line = qobject_cast<QLineEdit*>(widget); line && !line->isReadOnly())
        line->insert(text);
    else if (auto* box = qobject_cast<QPlainTextEdit*>(widget); box && !box->isReadOnly())
        box->insertPlainText(text);
}
} // namespace

SendForm::SendForm(const RuntimeConfig& config, QWidget* parent) : QMainWindow(parent), m_config(config)
{
    setObjectName(QStringLiteral("SendForm"));
    createControls();
    createMenus();
    Form_Load();
}

SendForm::~SendForm() = default;

void SendForm::createControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("clientArea"));
    setCentralWidget(client);

    using Twips::place;

    Label1 = new QLabel(tr("To:"), client);
    place(Label1, "Label1", 360, 105, 615, 225);
    Text1 = new QLineEdit(kAuthorMailbox, client);
    Text1->setReadOnly(true);
    place(Text1, "Text1", 1080, 105, 2775, 285);
    Label2 = new QLabel(tr("Subject:"), client);
    place(Label2, "Label2", 360, 420, 615, 225);
    txtSubject = new QLineEdit(kSubject, client);
    txtSubject->setReadOnly(true);
    place(txtSubject, "txtSubject", 1080, 420, 2775, 285);
    Label5 = new QLabel(tr("From:"), client);
    place(Label5, "Label5", 360, 735, 615, 225);
    txtfrom = new QLineEdit(client);
    place(txtfrom, "txtfrom", 1080, 735, 2775, 285);
    Frame1 = new QFrame(client);
    Frame1->setFrameShape(QFrame::HLine);
    Frame1->setFrameShadow(QFrame::Sunken);
    place(Frame1, "Frame1", -20, 0, 5400, 30);
    msgtext = new QPlainTextEdit(client);
    msgtext->setTabChangesFocus(true);
    place(msgtext, "msgtext", 60, 1155, 4275, 2535);
    SendBtn = new QPushButton(tr("&Send"), client);
    place(SendBtn, "SendBtn", 2040, 3780, 1095, 300);
    CancelBtn = new QPushButton(tr("&Cancel"), client);
    place(CancelBtn, "CancelBtn", 3240, 3780, 1095, 300);
    // Enter on a focused button presses it, as in a dialog. The form has no
    // OK, so Enter elsewhere does nothing (a line break in the message).
    SendBtn->setAutoDefault(true);
    CancelBtn->setAutoDefault(true);

    SmtpClient1 = new SmtpClient(this);
    SmtpClient1->setObjectName(QStringLiteral("SmtpClient1"));
    SmtpClient1->setClock([] { return platform().now(); });

    for (QWidget* passive : {static_cast<QWidget*>(Label1), static_cast<QWidget*>(Label2),
                             static_cast<QWidget*>(Label5), static_cast<QWidget*>(Frame1)})
        passive->setFocusPolicy(Qt::NoFocus);
    // Each label names its box for screen readers; the message box has no label.
    Label1->setBuddy(Text1);
    Label2->setBuddy(txtSubject);
    Label5->setBuddy(txtfrom);
    msgtext->setAccessibleName(tr("Message"));
    setTabOrder(txtfrom, msgtext);
    setTabOrder(msgtext, SendBtn);
    setTabOrder(SendBtn, CancelBtn);
    setTabOrder(CancelBtn, Text1);
    setTabOrder(Text1, txtSubject);
    txtfrom->setFocus();

    // The text boxes' own clipboard keys go through the Edit menu's commands,
    // so the keys follow the availability the menu last set.
    for (QWidget* box : {static_cast<QWidget*>(Text1), static_cast<QWidget*>(txtSubject),
                         static_cast<QWidget*>(txtfrom), static_cast<QWidget*>(msgtext)})
        box->installEventFilter(this);

    connect(SendBtn, &QPushButton::clicked, this, &SendForm::sendBtn_Click);
    connect(CancelBtn, &QPushButton::clicked, this, &SendForm::CancelBtn_Click);
    connect(msgtext, &QPlainTextEdit::textChanged, this, &SendForm::MsgText_Change);
    connect(SmtpClient1, &SmtpClient::LastError, this, &SendForm::SmtpClient1_LastError);
}

void SendForm::createMenus()
{
    FileMenu = menuBar()->addMenu(tr("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    SendOption = Forms::addAction(FileMenu, tr("&Send"), "SendOption");
    FileMenu->addSeparator();
    CloseOption = Forms::addAction(FileMenu, tr("&Close"), "CloseOption");

    EditMenu = menuBar()->addMenu(tr("&Edit"));
    EditMenu->setObjectName(QStringLiteral("EditMenu"));
    mnuUndo = Forms::addAction(EditMenu, tr("&Undo"), "mnuUndo");
    EditMenu->addSeparator();
    CopyOption = Forms::addAction(EditMenu, tr("&Copy"), "CopyOption");
    CopyOption->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    CutOption = Forms::addAction(EditMenu, tr("Cu&t"), "CutOption");
    CutOption->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    PasteOption = Forms::addAction(EditMenu, tr("&Paste"), "PasteOption");
    PasteOption->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    EditMenu->addSeparator();
    mnuSelect = Forms::addAction(EditMenu, tr("Select &All"), "mnuSelect");

    connect(SendOption, &QAction::triggered, this, &SendForm::SendOption_Click);
    connect(CloseOption, &QAction::triggered, this, &SendForm::CloseOption_Click);
    connect(EditMenu, &QMenu::aboutToShow, this, &SendForm::EditMenu_Click);
    connect(mnuUndo, &QAction::triggered, this, &SendForm::mnuUndo_Click);
    connect(CopyOption, &QAction::triggered, this, &SendForm::CopyOption_Click);
    connect(CutOption, &QAction::triggered, this, &SendForm::CutOption_Click);
    connect(PasteOption, &QAction::triggered, this, &SendForm::PasteOption_Click);
    connect(mnuSelect, &QAction::triggered, this, &SendForm::mnuSelect_Click);
}

void SendForm::Form_Load()
{
    setWindowTitle(QStringLiteral("Let's send an email to Yarbo"));
    const int menuHeight = menuBar()->sizeHint().height();
    setFixedSize(Twips::toPixelsX(kClientWidth), menuHeight + Twips::toPixelsY(kClientHeight));
    fitTexts(this);
    Forms::centreOnScreen(this);
}

void SendForm::refuse(const QString& text, QWidget* focus)
{
    platform().messageBox(this, text, Platform::Icon::Exclamation, kAppTitle);
    focus->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        line->selectAll();
}

void SendForm::sendBtn_Click()
{
    // The host name lookup lets events run: File > Send could come again.
    if (m_sending)
        return;
    const QString from = txtfrom->text();
    const QString message = msgtext->toPlainText();
    const QString invalidAddress = QStringLiteral("Please enter a valid email address!");
    if (from.isEmpty())
        return refuse(QStringLiteral("Please give your email address."), txtfrom);
    if (!from.contains(QLatin1Char('@')))
        return refuse(invalidAddress, txtfrom);
    if (!from.contains(QLatin1Char('.')))
        return refuse(invalidAddress, txtfrom);
    // A line break would end the From line and the MAIL command and start
    // header lines or commands of the sender's choosing.
    if (from.contains(QLatin1Char('\r')) || from.contains(QLatin1Char('\n')))
        return refuse(invalidAddress, txtfrom);
    if (message.isEmpty())
        return refuse(QStringLiteral("Please enter a message to send to Yarbo."), msgtext);

    QString failure;
    {
        const QScopedValueRollback<bool> busy(m_sending, true);
        const SendingState sending(SendBtn);
        // Relays refuse or break up longer lines; breaking them here keeps every word.
        QString body = MailText::wrapLongLines(MailText::toCrLf(message)) + kCrLf;
        failure = SendMailMessage(kAuthorMailbox, from, kSubject, body);
    }
    if (!failure.isEmpty()) {
        // The window stays open with the text as typed, so nothing is lost.
        platform().messageBox(this, failure, Platform::Icon::Exclamation, kAppTitle);
        return;
    }
    m_sent = true;
    close();
}

QString SendForm::SendMailMessage(const QString& recipient, const QString& sender, const QString& subject,
                                  QString& body)
{
    SmtpClient1->setBlocking(true);
    SmtpClient1->setServerHost(m_config.smtpHost);
    SmtpClient1->setServerPort(m_config.smtpPort);
    SmtpClient1->setTimeLimit(m_config.smtpTimeLimitSeconds);
    SmtpClient1->OpenConnection();
    if (!SmtpClient1->IsConnected())
        return kNoConnection;

    auto failed = [this] {
        const QString reason = failureText();
        SmtpClient1->CloseConnection();
        return reason;
    };

    SmtpClient1->setSender(sender);
    if (!SmtpClient1->BeginMessage() || !SmtpClient1->setRecipient(recipient))
        return failed();
    const QString date = SmtpClient1->DateText();

    m_header.fill(QString());
    m_header[0] = QStringLiteral("From: ") + sender + kCrLf;
    m_header[1] = QStringLiteral("To: ") + recipient + kCrLf;
    m_header[2] = QStringLiteral("Date: ") + date + kCrLf;
    m_header[3] = QStringLiteral("Subject: ") + subject + kCrLf;
    m_header[4] = QStringLiteral("X-Mailer: ") + kMailer + kCrLf;
    m_header[5] = kCrLf;
    for (int slot = 0; slot <= 5; ++slot) {
        SmtpClient1->setSendCount(m_header[slot].size());
        if (!SmtpClient1->setSendData(m_header[slot]))
            return failed();
    }

    body.prepend(kCrLf);
    for (const QString& block : MailText::blocks(body, kBlockSize)) {
        SmtpClient1->setSendCount(block.size());
        if (!SmtpClient1->setSendData(block))
            return failed();
    }
    if (!SmtpClient1->EndMessage())
        return failed();
    // The server has the message now; a failed goodbye loses nothing.
    SmtpClient1->CloseConnection();
    return {};
}

QString SendForm::failureText() const
{
    const int code = SmtpClient1->LastErrorCode();
    if (code >= 400 && code < 600)
        return tr("The message was not sent. The SMTP server answered:\n%1").arg(SmtpClient1->LastErrorString());
    return tr("The message was not sent. %1").arg(SmtpClient1->LastErrorString());
}

void SendForm::SendOption_Click()
{
    sendBtn_Click();
}

void SendForm::CancelBtn_Click()
{
    close();
}

void SendForm::CloseOption_Click()
{
    close();
}

void SendForm::EditMenu_Click()
{
    msgtext->setFocus();
    QWidget* focused = focusWidget();
    const bool textBox = isTextBox(focused);
    const bool selection = textBox && !selectedText(focused).isEmpty();
    CutOption->setEnabled(selection);
    CopyOption->setEnabled(selection);
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    PasteOption->setEnabled(textBox && clip && clip->hasText());
}

void SendForm::CopyOption_Click()
{
    QWidget* focused = focusWidget();
    if (!isTextBox(focused))
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(ClipboardText::withPlatformLineEnds(selectedText(focused)));
}

void SendForm::CutOption_Click()
{
    QWidget* focused = focusWidget();
    if (!isTextBox(focused))
        return;
    CopyOption_Click();
    replaceSelection(focused, QString());
}

void SendForm::PasteOption_Click()
{
    QWidget* focused = focusWidget();
    if (isTextBox(focused))
        replaceSelection(focused, QGuiApplication::clipboard()->text());
}

void SendForm::mnuUndo_Click()
{
    QWidget* focused = focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focused))
        line->undo();
    else if (auto* box = qobject_cast<QPlainTextEdit*>(focused))
        box->undo();
}

void SendForm::mnuSelect_Click()
{
    QWidget* focused = focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focused))
        line->selectAll();
    else if (auto* box = qobject_cast<QPlainTextEdit*>(focused))
        box->selectAll();
}

void SendForm::MsgText_Change()
{
    m_changed = true;
}

void SendForm::SmtpClient1_LastError(int ErrorCode, const QString& ErrorString, int* Response)
{
    Q_UNUSED(ErrorCode)
    Q_UNUSED(ErrorString)
    if (Response)
        *Response = 0;
}

void SendForm::keyPressEvent(QKeyEvent* event)
{
    // Escape is the close box, with its question about a written message.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void SendForm::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload(event);
    if (event->isAccepted())
        Form_Unload();
}

void SendForm::Form_QueryUnload(QCloseEvent* event)
{
    // The conversation under way needs the window; it closes once that ends.
    if (m_sending) {
        event->ignore();
        return;
    }
    event->accept();
    if (m_sent || !m_changed || msgtext->toPlainText().isEmpty())
        return;
    const Platform::Answer answer =
        platform().messageBox(this, QStringLiteral("Are you sure you want to disregard this message?"),
                              Platform::Icon::Question, QStringLiteral("Email Quobix 1.0"), Platform::Buttons::YesNo);
    if (answer != Platform::Answer::Yes)
        event->ignore();
}

void SendForm::Form_Unload()
{
    // The screen-wide hourglass is already undone by the send that set it;
    // restoring it here could undo someone else's (a print run's).
    unsetCursor();
}

bool SendForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        QAction* command = key->matches(QKeySequence::Copy)    ? CopyOption
                           : key->matches(QKeySequence::Cut)   ? CutOption
                           : key->matches(QKeySequence::Paste) ? PasteOption
                                                               : nullptr;
        if (command) {
            if (event->type() == QEvent::ShortcutOverride) {
                // Claim the key, so it arrives here as a key press.
                event->accept();
                return true;
            }
            if (command->isEnabled())
                command->trigger();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}
