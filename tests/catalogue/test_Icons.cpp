#include "catalogue/Icons.h"

#include <QIcon>

#include <gtest/gtest.h>

using namespace quelmark;

namespace {

// Every picture draws something, also on a desktop whose theme has none of the names asked for.
TEST(Icons, EveryPictureDrawsSomethingWithoutATheme)
{
    const QString theme = QIcon::themeName();
    QIcon::setThemeName(QStringLiteral("quelmark-no-such-theme"));
    for (const TPicture picture : AllPictures)
        EXPECT_FALSE(Picture(picture).pixmap(20, 20).isNull()) << "picture " << static_cast<int>(picture);
    QIcon::setThemeName(theme);
}

} // namespace
