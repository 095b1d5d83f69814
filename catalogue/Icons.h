// The program's pictures, all in one place: the window icon, the toolbar buttons, the
// navigator's nodes and the file dialog's buttons.
//
// Each picture is the desktop theme's icon of a fixed name, or the program's own drawing when
// the theme has none, so no button is ever blank.
#pragma once

#include <QIcon>

namespace quelmark {

enum class TPicture {
    Program,
    // Main toolbar.
    Start,
    Stop,
    PushAll,
    Help,
    // Navigator toolbar.
    NewSite,
    DeleteSite,
    // Files toolbar.
    PushSelected,
    PushSite,
    NewFile,
    EditFile,
    RemoveFile,
    // Log toolbar.
    Save,
    // Navigator nodes.
    GeneralOptions,
    WebSites,
    Site,
    Log,
    // File dialog.
    Browse,
    Clear,
    Default,
};

// The pictures in declaration order, for whoever has to look at all of them.
inline constexpr TPicture AllPictures[] = {
    TPicture::Program,  TPicture::Start,      TPicture::Stop,         TPicture::PushAll,        TPicture::Help,
    TPicture::NewSite,  TPicture::DeleteSite, TPicture::PushSelected, TPicture::PushSite,       TPicture::NewFile,
    TPicture::EditFile, TPicture::RemoveFile, TPicture::Save,         TPicture::GeneralOptions, TPicture::WebSites,
    TPicture::Site,     TPicture::Log,        TPicture::Browse,       TPicture::Clear,          TPicture::Default,
};

// Returns the picture: the theme's icon, or the program's own when the theme has none.
QIcon Picture(TPicture picture);

// Returns the picture with a mark in its lower right corner that tells a result: a green tick
// for good, a red cross for failed.
QIcon MarkedPicture(TPicture picture, bool good);

} // namespace quelmark
