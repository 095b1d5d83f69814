#include "app/Icons.h"

// The pictures live in this static library; a program that links it gets them only when the
// library registers them itself.
static void InitAppResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(app);
        return true;
    }();
    (void)done;
}

namespace quelmark {

QIcon AppIcon(const char *theme, const char *file)
{
    InitAppResources();
    const QIcon own(QStringLiteral(":/app/icons/%1.png").arg(QString::fromLatin1(file)));
    return QIcon::fromTheme(QString::fromLatin1(theme), own);
}

QIcon WindowIcon()
{
    InitAppResources();
    return QIcon(QStringLiteral(":/app/icons/quelmark.png"));
}

} // namespace quelmark
