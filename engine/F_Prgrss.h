// TfrmProgress: the small window that shows how far an upload has gone, in bytes and as a rate,
// and offers Cancel.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QLocale;
class QProgressBar;
class QPushButton;

namespace quelmark {

// Returns the bar position for count bytes of a file of size bytes: the truncated
// percentage, kept within 0..100; an empty file counts as complete.
int ProgressPercent(std::int64_t count, std::int64_t size);

// Returns the bytes line of the progress window: "<sent> of <total>", and ", <rate>/s" once
// elapsedMs (since the first bytes were reported) is long enough to tell a rate; sizes in the
// locale's binary units ("1.50 MiB of 64.00 MiB, 11.20 MiB/s").
QString ProgressBytesText(std::int64_t sent, std::int64_t total, std::int64_t elapsedMs, const QLocale &locale);

class TfrmProgress : public QDialog {
    Q_OBJECT
public:
    explicit TfrmProgress(QWidget *parent = nullptr);

    // Points Cancel at the program's transfer-cancelled flag (null: Cancel does nothing).
    void SetTransferCancelledFlag(bool *flag) { m_transferCancelled = flag; }

    // Shows the window for a new upload with label, the bar at 0 and no bytes yet.
    void Begin(const QString &label);
    // Shows one progress report: label, the bar at sent's share of total (the bytes that are
    // sent: a substituted copy's, not the page's), and the bytes line. The rate counts from the
    // first report of the upload.
    void ShowProgress(const QString &label, std::int64_t sent, std::int64_t total);
    // Hides the window, leaving label, the bar at 0 and no bytes line.
    void End(const QString &label);

    // Sets the transfer-cancelled flag and nothing else.
    void btnCancelClick();

    // Returns a monotonic time in milliseconds; replaceable so tests can fix the rate.
    std::function<std::int64_t()> Clock;

    QLabel *lblMessage = nullptr;
    QProgressBar *progressBar = nullptr;
    QLabel *lblBytes = nullptr;
    QPushButton *btnCancel = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    // Escape is Cancel: it asks the transfer to stop, and the transfer closes the window when
    // it has.
    void reject() override { btnCancelClick(); }

private:
    bool *m_transferCancelled = nullptr;
    // When the upload's first report came; negative before it.
    std::int64_t m_firstReport = -1;
};

} // namespace quelmark
