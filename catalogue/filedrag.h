// The drop target: files dragged from the desktop onto the main window.
//
// TFileDrag watches the window it is attached to. While EnableDrop is set, a drag that carries
// local files is accepted; on the drop the paths are listed in NameWithPath (with NameOnly and
// Extension beside them) and OnDrop is raised. While EnableDrop is clear, drags are refused.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

namespace quelmark {

class TFileDrag : public QObject {
    Q_OBJECT
public:
    // Attaches to window (which becomes the owner) and makes it take drops; EnableDrop starts
    // false.
    explicit TFileDrag(QWidget *window);

    // NameWithPath, NameOnly and Extension give the i-th dropped file's full path, its name after
    // the last "/", and its extension (from the last "." of the name on, empty when there is
    // none). An index outside the list gives an empty text.
    QString NameWithPath(int i) const { return m_nameWithPath.value(i); }
    QString NameOnly(int i) const { return m_nameOnly.value(i); }
    QString Extension(int i) const { return m_extension.value(i); }
    int FileCount() const { return m_fileCount; }

    bool EnableDrop() const { return m_enableDrop; }
    void SetEnableDrop(bool enable) { m_enableDrop = enable; }

    // Takes a list of dropped paths as a drop delivers them: the three lists are filled anew
    // and OnDrop is raised.
    void Drop(const QStringList &paths);

    // Returns the local file paths a drag carries, in the order it lists them.
    static QStringList LocalPaths(const QMimeData *data);

    std::function<void(TFileDrag *sender)> OnDrop;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool Accepts(const QMimeData *data) const;

    QWidget *m_window = nullptr;
    QStringList m_nameWithPath;
    QStringList m_nameOnly;
    QStringList m_extension;
    int m_fileCount = 0;
    bool m_enableDrop = false;
};

} // namespace quelmark
