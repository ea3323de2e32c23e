#pragma once

#include <QDialog>

class QComboBox;
class QGroupBox;
class QListWidget;
class QPushButton;

// The Hostname Remover: edits a copy of the host list, which "&OK" puts back.
class frmhost : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmhost)

public:
    // hostBox: the main window's host box, whose list is the host list.
    explicit frmhost(QComboBox* hostBox, QWidget* parent = nullptr);
    ~frmhost() override;

    QGroupBox* Frame1;
    QListWidget* List1;
    QPushButton* Command5;
    QPushButton* Command2;
    QPushButton* Command1;

    // Fills List1 from the host list.
    void Form_Load();
    // "&Remove", "&OK", "&Cancel".
    void Command5_Click();
    void Command2_Click();
    void Command1_Click();

private:
    QComboBox* m_hostBox;
};
