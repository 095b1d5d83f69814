#include "app/WaitInput.h"

#include "base/Wait.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
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

} // namespace

BeepFunction SetBeep(BeepFunction beep)
{
    return std::exchange(beepFunction(), std::move(beep));
}

TWaitInput::TWaitInput(TWait &wait, QObject *parent) : QObject(parent), m_wait(&wait)
{
    m_wait->OnWaiting = [this](bool waiting) { Waiting(waiting); };
}

TWaitInput::~TWaitInput()
{
    if (m_wait)
        m_wait->OnWaiting = nullptr;
    if (m_depth > 0)
        qApp->removeEventFilter(this);
}

void TWaitInput::LetInputThrough(QWidget *window)
{
    std::erase_if(m_passing, [](const QPointer<QWidget> &kept) { return !kept; });
    m_passing.emplace_back(window);
}

void TWaitInput::Waiting(bool waiting)
{
    if (waiting && m_depth++ == 0)
        qApp->installEventFilter(this);
    else if (!waiting && m_depth > 0 && --m_depth == 0)
        qApp->removeEventFilter(this);
}

// Everything but key and button presses (painting, timers, socket notifications, mouse movement,
// releases) passes.
bool TWaitInput::eventFilter(QObject *receiver, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        return Refuse(receiver);
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return IsRefusedButton(event) && Refuse(receiver);
    case QEvent::ShortcutOverride:
        // Claim the key for the focus widget so no shortcut fires; the key press that follows
        // is then refused above.
        if (InsideWindows(receiver, m_passing))
            return false;
        event->accept();
        return true;
    default:
        return false;
    }
}

bool TWaitInput::Refuse(const QObject *receiver) const
{
    if (InsideWindows(receiver, m_passing))
        return false;
    Beep();
    return true;
}

} // namespace quelmark
