// TfrmAbout: the about box with the program's name, version and what it is for.
#pragma once

#include "app/CommandLine.h"

#include <QDialog>

namespace quelmark {

class TfrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TfrmAbout(QWidget *parent = nullptr);
};

} // namespace quelmark
