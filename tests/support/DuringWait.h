// Runs test code from inside a countdown's wait.
#pragma once

#include "base/Exception.h"
#include "base/Wait.h"

#include <QTimer>

#include <functional>

namespace quelmark::test {

// Runs the body from inside the wait's dispatching, then stops the wait.
inline void DuringWait(TWait &wait, std::function<void()> body)
{
    wait.SetCaption(QStringLiteral("100"));
    QTimer::singleShot(0, &wait, [&wait, body] {
        Guarded([&] {
            body();
            wait.Stop();
        });
    });
    wait.Execute();
}

} // namespace quelmark::test
