#pragma once

#include "app/Config.h"

#include <QMainWindow>

#include <array>

class QAction;
class QCloseEvent;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class SmtpClient;

// The feedback mail window: the sender's address and a message, sent to the
// author through the SMTP relay host.
class SendForm : public QMainWindow
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SendForm)

public:
    static inline const QString kSubject = QStringLiteral("I'm using Finger Quobix!");
    static inline const QString kMailer = QStringLiteral("Finger Quobix 2.1");
    static inline const QString kNoConnection = QStringLiteral("Unable to establish connection to SMTP server.");
    static constexpr qsizetype kBlockSize = 1024;

    explicit SendForm(const RuntimeConfig& config, QWidget* parent = nullptr);
    ~SendForm() override;

    QLabel* Label1;
    QLineEdit* Text1;
    QLabel* Label2;
    QLineEdit* txtSubject;
    QLabel* Label5;
    QLineEdit* txtfrom;
    QFrame* Frame1;
    QPlainTextEdit* msgtext;
    QPushButton* SendBtn;
    QPushButton* CancelBtn;
    SmtpClient* SmtpClient1;

    QMenu* FileMenu;
    QAction* SendOption;
    QAction* CloseOption;
    QMenu* EditMenu;
    QAction* mnuUndo;
    QAction* CopyOption;
    QAction* CutOption;
    QAction* PasteOption;
    QAction* mnuSelect;

    void Form_Load();
    void sendBtn_Click();
    void SendOption_Click();
    void CancelBtn_Click();
    void CloseOption_Click();
    void EditMenu_Click();
    void CopyOption_Click();
    void CutOption_Click();
    void PasteOption_Click();
    void mnuUndo_Click();
    void mnuSelect_Click();
    void MsgText_Change();
    void Form_QueryUnload(QCloseEvent* event);
    void Form_Unload();
    void SmtpClient1_LastError(int ErrorCode, const QString& ErrorString, int* Response);

    // Sends one message to the author; returns what went wrong, or nothing
    // once the server has accepted the message. The body is extended in place.
    QString SendMailMessage(const QString& recipient, const QString& sender, const QString& subject,
                            QString& body);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    void refuse(const QString& text, QWidget* focus);
    QString failureText() const;

    RuntimeConfig m_config;
    std::array<QString, 11> m_header;
    bool m_changed = false;
    bool m_sent = false;
    // A conversation with the mail server is under way.
    bool m_sending = false;
};
