#pragma once
// The window shown while a registry file is imported: the key being applied,
// a progress bar and a small animation that runs while the window is shown.

#include <QDialog>

class QLabel;
class QProgressBar;
class QTimer;

class TformImportProgress : public QDialog
{
    Q_OBJECT
public:
    explicit TformImportProgress(QWidget *parent = nullptr);

    QLabel *lblKey = nullptr;
    QProgressBar *pbProgress = nullptr;
    QLabel *aniCopy = nullptr;

    bool isAnimating() const;
    // Shows the window over owner (centred on it), on top and without waiting.
    void showOver(QWidget *owner);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void reject() override; // the import decides when the window closes

private:
    void nextFrame();
    QTimer *m_timer = nullptr;
    int m_frame = 0;
};
