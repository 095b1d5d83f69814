// TfrmAbout: the about box with the program's name, version and what it is for.
#pragma once

#include <QDialog>

namespace quelmark {

// Returns the program's version, as the build names it.
QString ProgramVersion();

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *parent = nullptr);
};

} // namespace quelmark
