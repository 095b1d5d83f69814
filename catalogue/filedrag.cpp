#include "catalogue/filedrag.h"

#include "base/Exception.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace quelmark {

TFileDrag::TFileDrag(QWidget *window) : QObject(window), m_window(window)
{
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

QStringList TFileDrag::LocalPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls()) {
        // Links to remote places are not files this program could read.
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

void TFileDrag::Drop(const QStringList &paths)
{
    m_nameWithPath.clear();
    m_nameOnly.clear();
    m_extension.clear();
    m_fileCount = static_cast<int>(paths.size());
    for (const QString &path : paths) {
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
        m_nameWithPath.append(path);
        m_nameOnly.append(name);
        m_extension.append(dot < 0 ? QString() : name.mid(dot));
    }
    if (OnDrop)
        OnDrop(this);
}

bool TFileDrag::Accepts(const QMimeData *data) const
{
    return m_enableDrop && !LocalPaths(data).isEmpty();
}

bool TFileDrag::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_window)
        return false;
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (Accepts(drag->mimeData()))
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (!Accepts(drop->mimeData())) {
            drop->ignore();
            return true;
        }
        drop->acceptProposedAction();
        const QStringList paths = LocalPaths(drop->mimeData());
        Guarded([this, &paths] { Drop(paths); });
        return true;
    }
    default:
        return false;
    }
}

} // namespace quelmark
