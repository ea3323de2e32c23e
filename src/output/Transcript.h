#pragma once

#include <QObject>

class finger;

// Saving and printing the reply box.
class Transcript : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Transcript)

public:
    explicit Transcript(finger& window);
    ~Transcript() override;

    void mnuSave_Click();
    void mnuPrint_Click();
    // True while a print run is under way.
    bool isPrinting() const;

private:
    finger& m_window;
};
