#include "catalogue/Icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

// The pictures live in this static library; a program that links it gets them only when the
// library registers them itself.
static void InitIconResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)done;
}

namespace quelmark {

namespace {

struct TPictureSource {
    TPicture picture;
    // The theme's name for it.
    const char *theme;
    // The program's own drawing: icons/<own>.png.
    const char *own;
};

constexpr TPictureSource kSources[] = {
    // The desktop knows the program's own icon by the name of its menu entry.
    {TPicture::Program, QUELMARK_DESKTOP_ID, "quelmark"},
    {TPicture::Start, "media-playback-start", "start"},
    {TPicture::Stop, "media-playback-stop", "stop"},
    {TPicture::PushAll, "go-up", "pushall"},
    {TPicture::Help, "help-contents", "help"},
    {TPicture::NewSite, "list-add", "newsite"},
    {TPicture::DeleteSite, "list-remove", "deletesite"},
    {TPicture::PushSelected, "document-send", "pushselected"},
    {TPicture::PushSite, "go-top", "pushsite"},
    {TPicture::NewFile, "document-new", "newfile"},
    {TPicture::EditFile, "document-properties", "editfile"},
    {TPicture::RemoveFile, "edit-delete", "removefile"},
    {TPicture::Save, "document-save", "save"},
    {TPicture::GeneralOptions, "preferences-system", "options"},
    {TPicture::WebSites, "network-workgroup", "websites"},
    {TPicture::Site, "network-server", "site"},
    {TPicture::Log, "text-x-generic", "log"},
    {TPicture::Browse, "document-open", "browse"},
    {TPicture::Clear, "edit-clear", "clear"},
    {TPicture::Default, "edit-undo", "default"},
};

} // namespace

QIcon Picture(TPicture picture)
{
    InitIconResources();
    for (const TPictureSource &source : kSources) {
        if (source.picture != picture)
            continue;
        const QIcon own(QStringLiteral(":/icons/%1.png").arg(QString::fromLatin1(source.own)));
        return QIcon::fromTheme(QString::fromLatin1(source.theme), own);
    }
    return QIcon();
}

QIcon MarkedPicture(TPicture picture, bool good)
{
    const QIcon base = Picture(picture);
    QIcon marked;
    for (const int side : {16, 20, 24, 32, 48}) {
        QPixmap pixmap = base.pixmap(side, side);
        if (pixmap.isNull())
            continue;
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        // The mark takes the lower right half of the picture, on a white ring so that it reads
        // on any picture.
        const qreal mark = side * 0.55;
        const QRectF disc(side - mark, side - mark, mark, mark);
        painter.setPen(QPen(Qt::white, side / 16.0));
        painter.setBrush(good ? QColor(0x2e, 0x9d, 0x3a) : QColor(0xd0, 0x21, 0x21));
        painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.setPen(QPen(Qt::white, side / 10.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QRectF inner = disc.adjusted(mark * 0.28, mark * 0.28, -mark * 0.28, -mark * 0.28);
        QPainterPath path;
        if (good) {
            path.moveTo(inner.left(), inner.center().y());
            path.lineTo(inner.left() + inner.width() * 0.4, inner.bottom());
            path.lineTo(inner.right(), inner.top());
        } else {
            path.moveTo(inner.topLeft());
            path.lineTo(inner.bottomRight());
            path.moveTo(inner.topRight());
            path.lineTo(inner.bottomLeft());
        }
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.end();
        marked.addPixmap(pixmap);
    }
    return marked;
}

} // namespace quelmark
