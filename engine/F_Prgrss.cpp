#include "engine/F_Prgrss.h"

#include "base/Exception.h"
#include "catalogue/P_Utils.h"
#include "ftp/FtpReplies.h"

#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace quelmark {

namespace {

// A rate taken over less time than this says more about the timer than about the line.
constexpr std::int64_t kRateAfterMs = 250;

} // namespace

int ProgressPercent(std::int64_t count, std::int64_t size)
{
    if (size <= 0)
        return 100;
    const double percent = static_cast<double>(count) / static_cast<double>(size) * 100.0;
    if (percent <= 0.0)
        return 0;
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

QString ProgressBytesText(std::int64_t sent, std::int64_t total, std::int64_t elapsedMs, const QLocale &locale)
{
    QString text = QStringLiteral("%1 of %2").arg(locale.formattedDataSize(sent), locale.formattedDataSize(total));
    if (elapsedMs >= kRateAfterMs && sent > 0)
        text += QStringLiteral(", %1/s").arg(locale.formattedDataSize(TransferRate(sent, elapsedMs)));
    return text;
}

TfrmProgress::TfrmProgress(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmProgress"));
    setWindowTitle(QStringLiteral("File Transfer Progress"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setModal(false);
    Clock = [] {
        static const QElapsedTimer started = [] {
            QElapsedTimer timer;
            timer.start();
            return timer;
        }();
        return started.elapsed();
    };

    lblMessage = Named(new QLabel(QStringLiteral("File Transfer Progress...")), "lblMessage");
    lblMessage->setWordWrap(true);
    lblMessage->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblMessage->setMinimumSize(289, 41);
    progressBar = Named(new QProgressBar, "progressBar");
    progressBar->setRange(0, 100);
    progressBar->setValue(0);
    lblBytes = Named(new QLabel, "lblBytes");
    btnCancel = Named(new QPushButton(QStringLiteral("Cancel")), "btnCancel");
    connect(btnCancel, &QPushButton::clicked, this, GuardedHandler([this] { btnCancelClick(); }));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnCancel);
    buttons->addStretch(1);
    auto *column = new QVBoxLayout(this);
    column->addWidget(lblMessage);
    column->addWidget(progressBar);
    column->addWidget(lblBytes);
    column->addLayout(buttons);
    column->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmProgress::Begin(const QString &label)
{
    progressBar->setValue(0);
    lblMessage->setText(label);
    lblBytes->clear();
    m_firstReport = -1;
    // Owned by the main window, the window is disabled with it; Cancel must stay usable.
    setEnabled(true);
    show();
}

void TfrmProgress::ShowProgress(const QString &label, std::int64_t sent, std::int64_t total)
{
    const std::int64_t now = Clock();
    if (m_firstReport < 0)
        m_firstReport = now;
    lblMessage->setText(label);
    progressBar->setValue(ProgressPercent(sent, total));
    lblBytes->setText(ProgressBytesText(sent, total, now - m_firstReport, QLocale()));
}

void TfrmProgress::End(const QString &label)
{
    hide();
    progressBar->setValue(0);
    lblMessage->setText(label);
    lblBytes->clear();
}

void TfrmProgress::btnCancelClick()
{
    if (m_transferCancelled)
        *m_transferCancelled = true;
}

void TfrmProgress::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Centred on the screen rather than on the (disabled) main window.
    CentreOnScreen(this);
}

} // namespace quelmark
