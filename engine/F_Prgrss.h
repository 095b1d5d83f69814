// TfrmProgress: the small window that shows how far an upload has gone and offers Cancel.
#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace quelmark {

class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget *parent = nullptr);

    // Points Cancel at the program's transfer-cancelled flag (null: Cancel does nothing).
    void SetTransferCancelledFlag(bool *flag) { m_transferCancelled = flag; }

    // Sets the transfer-cancelled flag and nothing else.
    void btnCancelClick();

    QLabel *lblMessage = nullptr;
    QProgressBar *progressBar = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    // Escape would close the window behind the transfer's back; only Cancel answers.
    void reject() override {}

private:
    bool *m_transferCancelled = nullptr;
};

} // namespace quelmark
