#pragma once

#include <QDialog>

class QFrame;
class QIcon;
class QLabel;
class QPushButton;

// The About box: name, version, copyright, the author's mail and web links
// and the legal notice.
class About : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(About)

public:
    explicit About(const QIcon& icon, QWidget* parent = nullptr);
    ~About() override;

    QLabel* Picture1;
    QLabel* Label1;
    QPushButton* cmdOK;
    // The indexed group Label5: element 0 is the mail link, 1 the version.
    QLabel* Label5_0;
    QLabel* Label5_1;
    QLabel* Label6;
    QLabel* Label4;
    QFrame* Frame1;
    QLabel* Label2;
    QLabel* lblPointer;

    void Form_Load();
    void cmdOK_Click();
    void Label5_Click(int Index);
    void Label4_Click();

signals:
    void mailLinkClicked();
    void webLinkClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void labelClicked(QLabel* label);
};
