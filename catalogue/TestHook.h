// The test mode of the program's modal seams (message boxes, file dialogs, notifications).
#pragma once

#include <QList>
#include <QQueue>

namespace quelmark {

// The test mode of a modal seam (message boxes, file dialogs), which derives from it: while on,
// each dialog is recorded instead of shown and takes its answer from a queue, so no test ever
// blocks on a modal dialog.
template <typename AnswerType, typename ShownType> class TTestHook {
public:
    // What a dialog answers, and what the test mode records of one shown.
    using TAnswer = AnswerType;
    using TShown = ShownType;

    // Switches the test mode; either way the queue and the record start empty.
    static void SetTestMode(bool on)
    {
        State().on = on;
        State().answers.clear();
        State().shown.clear();
    }
    // Queues the answer of the next dialog in test mode.
    static void SetNextAnswer(const TAnswer &answer) { State().answers.enqueue(answer); }
    // Returns the dialogs recorded in test mode, in order.
    static const QList<TShown> &Shown() { return State().shown; }
    static void ClearShown() { State().shown.clear(); }

protected:
    static bool TestMode() { return State().on; }
    // Records a dialog that test mode kept from showing.
    static void Record(const TShown &shown) { State().shown.append(shown); }
    // Takes the next queued answer; fallback when none is queued.
    static TAnswer NextAnswer(const TAnswer &fallback)
    {
        return State().answers.isEmpty() ? fallback : State().answers.dequeue();
    }

private:
    struct TState {
        bool on = false;
        QQueue<TAnswer> answers;
        QList<TShown> shown;
    };
    static TState &State()
    {
        static TState state;
        return state;
    }
};

} // namespace quelmark
