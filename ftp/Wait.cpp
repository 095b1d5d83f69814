#include "ftp/Wait.h"

#include "base/Dispatch.h"
#include "base/Exception.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWindow>

#include <utility>

namespace quelmark {

namespace {

BeepFunction &beepFunction()
{
    static BeepFunction beep;
    return beep;
}

void Beep()
{
    if (beepFunction())
        beepFunction()();
    else
        QApplication::beep();
}

bool IsRefusedButton(const QEvent *event)
{
    const Qt::MouseButton button = static_cast<const QMouseEvent *>(event)->button();
    return button == Qt::LeftButton || button == Qt::RightButton;
}

// Tells whether the event's receiver is one of the windows, a widget in one, or the platform
// window that shows one.
bool InsideWindows(const QObject *receiver, const std::vector<QPointer<QWidget>> &windows)
{
    const auto *widget = qobject_cast<const QWidget *>(receiver);
    for (const QPointer<QWidget> &window : windows) {
        if (!window)
            continue;
        if (widget ? widget == window || window->isAncestorOf(widget)
                   : receiver == static_cast<const QObject *>(window->windowHandle()))
            return true;
    }
    return false;
}

// Refuses key presses and left or right mouse-button presses with the system beep while a wait
// runs, but for those aimed at the windows let through; everything else (painting, timers,
// socket notifications, mouse movement, releases) passes.
class InputRefuser : public QObject {
public:
    explicit InputRefuser(const std::vector<QPointer<QWidget>> &passing) : m_passing(passing) {}

    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            return Refuse(receiver);
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return IsRefusedButton(event) && Refuse(receiver);
        case QEvent::ShortcutOverride:
            // Claim the key for the focus widget so no shortcut fires; the key press that
            // follows is then refused above.
            if (InsideWindows(receiver, m_passing))
                return false;
            event->accept();
            return true;
        default:
            return false;
        }
    }

private:
    bool Refuse(const QObject *receiver) const
    {
        if (InsideWindows(receiver, m_passing))
            return false;
        Beep();
        return true;
    }

    const std::vector<QPointer<QWidget>> &m_passing;
};

// Installs the filter for the lifetime of one wait, so an exception leaving Execute removes it.
class InputFilterGuard {
public:
    explicit InputFilterGuard(const std::vector<QPointer<QWidget>> &passing) : m_filter(passing)
    {
        qApp->installEventFilter(&m_filter);
    }
    ~InputFilterGuard() { qApp->removeEventFilter(&m_filter); }

private:
    InputRefuser m_filter;
};

} // namespace

BeepFunction SetBeep(BeepFunction beep)
{
    return std::exchange(beepFunction(), std::move(beep));
}

std::int32_t ReadCount(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    std::int64_t value = 0;
    while (i < text.size() && text.at(i) >= QLatin1Char('0') && text.at(i) <= QLatin1Char('9')) {
        value = value * 10 + (text.at(i).unicode() - '0');
        if (value > INT32_MAX)
            value = INT32_MAX;
        ++i;
    }
    return static_cast<std::int32_t>(value);
}

TWait::TWait(QWidget *parent) : QWidget(parent), m_timer(new QTimer(this))
{
    resize(192, 32);
    QFont f(QStringLiteral("Courier"), 8);
    f.setFixedPitch(true);
    f.setStyleHint(QFont::Monospace);
    setFont(f);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, [this] { Guarded([this] { Tick(); }); });
}

TWait::~TWait() = default;

void TWait::SetCaption(const QString &caption)
{
    m_caption = caption;
    update();
}

std::uint16_t TWait::Interval() const
{
    return static_cast<std::uint16_t>(m_timer->interval());
}

void TWait::SetInterval(std::uint16_t milliseconds)
{
    m_timer->setInterval(milliseconds);
}

bool TWait::Waiting() const
{
    return m_timer->isActive();
}

void TWait::Execute()
{
    InputFilterGuard filter(m_inputWindows);
    DispatchScope scope;
    m_modalResult = 0;
    m_startCount = ReadCount(m_caption);
    if (m_startCount == 0) {
        m_startCount = 15;
        m_caption = QStringLiteral("15");
    }
    m_timer->start();
    // Block until the next event rather than spinning: an idle wait costs no CPU. Each pass
    // handles what is pending; the loop tests the timer between passes, so a Stop from a
    // handler ends the wait at the end of the pass that called it.
    while (m_timer->isActive()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
        if (scope.HasParked()) {
            m_timer->stop();
            m_caption = QString::number(m_startCount);
            scope.RethrowParked();
        }
    }
}

void TWait::Stop()
{
    m_modalResult = 1;
    m_timer->stop();
    m_caption = QString::number(m_startCount);
    // Wake a wait that is blocked for the next event, so it sees the stopped timer.
    if (auto *dispatcher = QAbstractEventDispatcher::instance())
        dispatcher->wakeUp();
}

void TWait::LetInputThrough(QWidget *window)
{
    std::erase_if(m_inputWindows, [](const QPointer<QWidget> &kept) { return !kept; });
    m_inputWindows.emplace_back(window);
}

void TWait::Tick()
{
    const std::int32_t n = ReadCount(m_caption) - 1;
    if (OnWaitEvent)
        OnWaitEvent(this, n);
    // A handler that stopped the wait has ended it already: the count must not overwrite the
    // start count that Stop put back, nor a time-out override its result.
    if (!m_timer->isActive())
        return;
    if (n > 0) {
        m_caption = QString::number(n);
    } else {
        m_timer->stop();
        m_modalResult = 2;
        m_caption = QString::number(m_startCount);
        if (OnTimeoutEvent)
            OnTimeoutEvent(this);
    }
    update();
}

void TWait::paintEvent(QPaintEvent *)
{
    const int start = m_startCount > 0 ? m_startCount : 1;
    const int bar = static_cast<int>(static_cast<std::int64_t>(ReadCount(m_caption)) * (width() - 7) / start);
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.setBrush(Qt::white);
    p.drawRect(0, 0, width() - 1, height() - 1);
    p.setBrush(palette().color(QPalette::Highlight));
    p.drawRect(3, 3, bar, height() - 7);
    p.drawText(4, height() / 2 - 8 + p.fontMetrics().ascent(), m_caption);
}

} // namespace quelmark
