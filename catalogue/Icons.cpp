#include "catalogue/Icons.h"

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

} // namespace quelmark
