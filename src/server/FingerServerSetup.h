#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
struct Profile;

// "Finger Server Setup": edits the profile that the finger server tells its
// visitors. OK takes the boxes into the profile and rebuilds the reply text
// at once (replyChosen); the settings are written only when the program ends.
class FingerServerSetup : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FingerServerSetup)

public:
    explicit FingerServerSetup(Profile& profile, QWidget* parent = nullptr);
    ~FingerServerSetup() override;

    QGroupBox* Frame1;
    // The indexed label group Label2: name, e-mail, URL, description.
    QLabel* Label2_0;
    QLabel* Label2_1;
    QLabel* Label2_2;
    QLabel* Label2_3;
    QLineEdit* Text1;
    QLineEdit* Text2;
    QLineEdit* Text3;
    QPlainTextEdit* Text4;
    QLabel* Label1;
    QPushButton* cmdOk;
    QPushButton* cmdCancel;

    void Form_Load();
    void Form_Resize();
    void cmdOk_Click();
    void cmdCancel_Click();

    // The description box's text with CR LF line ends, as the reply carries it.
    QString descriptionText() const;

signals:
    // OK: the reply text built from the boxes, for the server to send from now on.
    void replyChosen(const QString& reply);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Profile& m_profile;
};
