// Toolbar layout of a window: which toolbars are shown and where they sit.
//
// A main window's four toolbar areas are the draggable docks; a toolbar placed in any other
// widget sits in a fixed dock named after that widget and keeps only its visibility.
#include "catalogue/RegControls.h"

#include "catalogue/P_Types.h"
#include "catalogue/Registry.h"

#include <QMainWindow>
#include <QMap>
#include <QToolBar>

#include <algorithm>

namespace quelmark {

namespace {

// Where a toolbar last floated, kept so a docked toolbar still stores a floating rectangle.
const char *const kFloatRectProperty = "quelmarkFloatRect";

struct TDockArea {
    Qt::ToolBarArea area;
    const char *name;
};

constexpr TDockArea kDraggableDocks[] = {
    {Qt::TopToolBarArea, "dockTop"},
    {Qt::LeftToolBarArea, "dockLeft"},
    {Qt::BottomToolBarArea, "dockBottom"},
    {Qt::RightToolBarArea, "dockRight"},
};

QString AreaName(Qt::ToolBarArea area)
{
    for (const TDockArea &dock : kDraggableDocks) {
        if (dock.area == area)
            return QString::fromLatin1(dock.name);
    }
    return QString();
}

Qt::ToolBarArea AreaByName(const QString &name)
{
    for (const TDockArea &dock : kDraggableDocks) {
        if (name == QLatin1String(dock.name))
            return dock.area;
    }
    return Qt::NoToolBarArea;
}

bool Horizontal(Qt::ToolBarArea area)
{
    return area == Qt::TopToolBarArea || area == Qt::BottomToolBarArea;
}

// The toolbar's line in its area and its offset along that line, from the laid-out geometry.
void DockRowAndPos(QMainWindow *window, QToolBar *toolbar, Qt::ToolBarArea area, int &row, int &pos)
{
    const bool horizontal = Horizontal(area);
    QList<int> lines;
    for (QToolBar *other : window->findChildren<QToolBar *>()) {
        if (!other->isFloating() && window->toolBarArea(other) == area) {
            const int line = horizontal ? other->geometry().y() : other->geometry().x();
            if (!lines.contains(line))
                lines.append(line);
        }
    }
    std::sort(lines.begin(), lines.end());
    row = static_cast<int>(lines.indexOf(horizontal ? toolbar->geometry().y() : toolbar->geometry().x()));
    pos = horizontal ? toolbar->geometry().x() : toolbar->geometry().y();
}

QRect FloatRect(QToolBar *toolbar)
{
    if (toolbar->isFloating())
        return toolbar->geometry();
    const QVariant kept = toolbar->property(kFloatRectProperty);
    if (kept.isValid())
        return kept.toRect();
    return QRect(toolbar->mapToGlobal(QPoint(0, 0)), toolbar->size());
}

void WriteFloatRect(TRegIniFile &ini, const QString &section, QToolBar *toolbar)
{
    const QRect rect = FloatRect(toolbar);
    ini.WriteNumber(section, store::FloatLeft, rect.left());
    ini.WriteNumber(section, store::FloatTop, rect.top());
    ini.WriteNumber(section, store::FloatRight, rect.left() + rect.width());
    ini.WriteNumber(section, store::FloatBottom, rect.top() + rect.height());
    ini.WriteNumber(section, store::FloatRightX, toolbar->frameGeometry().left() + toolbar->frameGeometry().width());
}

void SaveToolbar(TRegIniFile &ini, QMainWindow *mainWindow, QToolBar *toolbar)
{
    const QString section = toolbar->objectName();
    if (section.isEmpty())
        throw Exception(QStringLiteral("Name property not set"));
    const Qt::ToolBarArea area = mainWindow ? mainWindow->toolBarArea(toolbar) : Qt::NoToolBarArea;
    const bool floating = toolbar->isFloating();
    const bool draggable = !floating && area != Qt::NoToolBarArea;
    if (!floating && !draggable && toolbar->parentWidget()->objectName().isEmpty())
        throw Exception(QStringLiteral("DockTo's Name property not set"));

    ini.WriteFlag(section, store::Visible, !toolbar->isHidden());
    if (!floating && !draggable)
        return;
    int row = 0;
    int pos = 0;
    if (draggable)
        DockRowAndPos(mainWindow, toolbar, area, row, pos);
    ini.WriteText(section, store::DockedTo, floating ? store::Floating : AreaName(area));
    ini.WriteNumber(section, store::DockRow, row);
    ini.WriteNumber(section, store::DockPos, pos);
    WriteFloatRect(ini, section, toolbar);
}

struct TPlacement {
    QToolBar *toolbar;
    Qt::ToolBarArea area;
    int row;
    int pos;
};

void FloatToolbar(TRegIniFile &ini, QWidget *window, QToolBar *toolbar)
{
    const QString section = toolbar->objectName();
    const int left = ini.ReadNumber(section, store::FloatLeft, 0);
    const int top = ini.ReadNumber(section, store::FloatTop, 0);
    QRect rect(left, top, ini.ReadNumber(section, store::FloatRight, left) - left,
               ini.ReadNumber(section, store::FloatBottom, top) - top);
    if (rect.width() <= 0 || rect.height() <= 0)
        rect.setSize(toolbar->sizeHint());
    const bool shown = !toolbar->isHidden();
    if (auto *mainWindow = qobject_cast<QMainWindow *>(window))
        mainWindow->removeToolBar(toolbar);
    toolbar->setParent(window, Qt::Tool | Qt::FramelessWindowHint);
    toolbar->setGeometry(rect);
    toolbar->setProperty(kFloatRectProperty, rect);
    toolbar->setVisible(shown);
}

// Reads one toolbar's section; a docked toolbar is only noted, the docks lay out afterwards.
void LoadToolbar(TRegIniFile &ini, QWidget *window, QToolBar *toolbar, QList<TPlacement> &placements)
{
    const QString section = toolbar->objectName();
    if (section.isEmpty())
        return;
    toolbar->setVisible(ini.ReadFlag(section, store::Visible, !toolbar->isHidden()));
    const QString dockedTo = ini.ReadText(section, store::DockedTo, QString());
    if (dockedTo.isEmpty())
        return;
    if (dockedTo == store::Floating) {
        FloatToolbar(ini, window, toolbar);
        return;
    }
    const Qt::ToolBarArea area = AreaByName(dockedTo);
    if (area == Qt::NoToolBarArea || !qobject_cast<QMainWindow *>(window))
        return;
    placements.append(
        {toolbar, area, ini.ReadNumber(section, store::DockRow, 0), ini.ReadNumber(section, store::DockPos, 0)});
}

void LayOutDocks(QMainWindow *window, QList<TPlacement> placements)
{
    std::stable_sort(placements.begin(), placements.end(), [](const TPlacement &a, const TPlacement &b) {
        if (a.area != b.area)
            return a.area < b.area;
        return a.row != b.row ? a.row < b.row : a.pos < b.pos;
    });
    for (int i = 0; i < placements.size(); ++i) {
        const TPlacement &p = placements[i];
        const bool shown = !p.toolbar->isHidden();
        if (p.toolbar->isWindow()) {
            p.toolbar->setParent(window, Qt::Widget);
        }
        const bool newLine = i > 0 && placements[i - 1].area == p.area && placements[i - 1].row != p.row;
        if (newLine)
            window->addToolBarBreak(p.area);
        window->addToolBar(p.area, p.toolbar);
        p.toolbar->setVisible(shown);
    }
}

} // namespace

void SaveToolbarLayout(QWidget *window, const QString &basePath)
{
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    auto *mainWindow = qobject_cast<QMainWindow *>(window);
    for (QToolBar *toolbar : window->findChildren<QToolBar *>())
        SaveToolbar(ini, mainWindow, toolbar);
    transaction.Commit();
}

void LoadToolbarLayout(QWidget *window, const QString &basePath)
{
    TStoreTransaction transaction;
    TRegIniFile ini(basePath);
    QList<TPlacement> placements;
    for (QToolBar *toolbar : window->findChildren<QToolBar *>())
        LoadToolbar(ini, window, toolbar, placements);
    if (auto *mainWindow = qobject_cast<QMainWindow *>(window))
        LayOutDocks(mainWindow, placements);
    transaction.Commit();
}

} // namespace quelmark
