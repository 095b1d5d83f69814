// TfrmInstr: the instructions window, three read-only pages: what the program does, a sample
// page that carries the address placeholder, and the disclaimer.
//
// Made once at start and shown or hidden on request; it tells whenever it appears or goes, so
// the help button can stay down exactly while it is shown.
#pragma once

#include <QWidget>

#include <functional>

class QTabWidget;

namespace quelmark {

// Return the texts of the three pages.
QString InstructionsDescription();
QString InstructionsSamplePage();
QString InstructionsDisclaimer();

class TfrmInstr : public QWidget {
    Q_OBJECT
public:
    explicit TfrmInstr(QWidget *parent = nullptr);

    // Called with true when the window appears and with false when it goes, however it goes.
    std::function<void(bool shown)> OnVisibleChange;

    QTabWidget *nbPages = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void AddPage(const char *name, const QString &title, const QString &text);
    // Centres the window over the main window, or on the screen when there is none.
    void PlaceOverOwner();

    bool m_placed = false;
};

} // namespace quelmark
