#include "app/F_Instr.h"

#include "base/Exception.h"
#include "catalogue/P_Utils.h"

#include <QFontDatabase>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QVBoxLayout>

namespace quelmark {

QString InstructionsDescription()
{
    return QStringLiteral("Varnholt Quelmark keeps pages on your web sites up to date over FTP, FTPS or SFTP and "
                          "writes this machine's current IP address into them as it uploads them.\n"
                          "\n"
                          "1. Add a web site with the \"New Web Site\" button under the navigator: the server, "
                          "your user name, your password and the folder your pages go to. On the site's page, "
                          "\"Use TLS (explicit)\" sends over FTPS, and \"Protocol:\" SFTP over SSH.\n"
                          "2. Add the local files that belong on that site with \"Add a new file\", or drop them "
                          "from the desktop onto the window while the site is shown. Give each file the name it "
                          "should have on the server.\n"
                          "3. Write the IP parameter (by default %IP%) into a page wherever the address belongs. "
                          "On upload the first %IP% of every line is replaced by the address the machine has at "
                          "that moment. Files of type \"Binary\" and files without a parameter go up unchanged.\n"
                          "4. Press the start button on the main toolbar. Every few minutes (\"Test local files "
                          "every (mins):\" on the General Options page) the program checks whether the machine is "
                          "online and uploads every file that changed, and every page with a parameter when the "
                          "address changed. With \"Auto-process\" the timer starts by itself.\n"
                          "5. When the machine is offline and \"Auto-reconnect\" is set, the reconnect command is "
                          "started and the check repeated a minute later.\n"
                          "\n"
                          "The push buttons send files at once: everything that is due, the files of the shown "
                          "site, or the selected files. Everything the program does is written to the log "
                          "(View Log), which you can save as a text file.");
}

QString InstructionsSamplePage()
{
    return QStringLiteral("<html>\n"
                          "<head><title>My machine at home</title></head>\n"
                          "<body>\n"
                          "<h1>My machine at home</h1>\n"
                          "<p>Right now my machine answers at %IP%.</p>\n"
                          "<p>Its own pages are <a href=\"http://%IP%/\">here</a>.</p>\n"
                          "<p>If the link fails, the machine is offline; try again later.</p>\n"
                          "</body>\n"
                          "</html>\n");
}

QString InstructionsDisclaimer()
{
    return QStringLiteral("This program is provided as it is, without warranty of any kind, express or implied, "
                          "including fitness for a particular purpose. You use it at your own risk.\n"
                          "\n"
                          "It uploads files to the servers you name, replacing the files of the same name there, "
                          "and it publishes your machine's address in the pages you mark. Keep copies of your "
                          "pages, and think about who may read that address.\n"
                          "\n"
                          "Plain FTP sends your user name and password unencrypted; FTPS and SFTP encrypt them "
                          "with the files.");
}

TfrmInstr::TfrmInstr(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("frmInstr"));
    setWindowTitle(QStringLiteral("Instructions"));
    resize(520, 400);
    nbPages = new QTabWidget(this);
    nbPages->setObjectName(QStringLiteral("nbPages"));
    AddPage("memoDescription", QStringLiteral("Description"), InstructionsDescription());
    AddPage("memoSamplePage", QStringLiteral("Sample Page"), InstructionsSamplePage());
    AddPage("memoDisclaimer", QStringLiteral("Disclaimer"), InstructionsDisclaimer());
    auto *column = new QVBoxLayout(this);
    column->addWidget(nbPages);
}

void TfrmInstr::AddPage(const char *name, const QString &title, const QString &text)
{
    auto *page = new QPlainTextEdit(text);
    page->setObjectName(QString::fromLatin1(name));
    page->setReadOnly(true);
    if (title == QStringLiteral("Sample Page"))
        page->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    nbPages->addTab(page, title);
}

void TfrmInstr::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_placed) {
        m_placed = true;
        PlaceOverOwner();
    }
    Guarded([this] {
        if (OnVisibleChange)
            OnVisibleChange(true);
    });
}

void TfrmInstr::PlaceOverOwner()
{
    // Nothing else places this window: left alone it would open in the screen's corner, over
    // the main window's menu. Later showings keep wherever the user moved it.
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible()) {
        CentreOnScreen(this);
        return;
    }
    QRect frame = frameGeometry();
    frame.moveCenter(owner->frameGeometry().center());
    move(frame.topLeft());
}

void TfrmInstr::keyPressEvent(QKeyEvent *event)
{
    // A window to read and put away: Escape puts it away, as it closes a dialog.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TfrmInstr::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    Guarded([this] {
        if (OnVisibleChange)
            OnVisibleChange(false);
    });
}

} // namespace quelmark
