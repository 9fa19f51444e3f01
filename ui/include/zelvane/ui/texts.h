#pragma once

// Every text of the window that a person may read, in one place for both toolkits: the window's
// captions, its message boxes, and its own failures. The update's texts are the engine's.

namespace zelvane::ui::text {

inline constexpr char kFormTitle[] = "Zelvane (3.x) updater (rev2.02)";
inline constexpr char kFrame1[] = "Install";
inline constexpr char kLabel1[] = "Path";
inline constexpr char kText1[] = "C:\\Program Files\\Zelvane";
inline constexpr char kCommand3[] = "Browse...";
inline constexpr char kLabel2[] =
    "This installer will update Zelvane to version 3.7.    For more information about Zelvane, "
    "please visit www.zelvane.example or support.zelvane.example";
inline constexpr char kCheck1[] = "Silent mode";
inline constexpr char kCommand1[] = "Install";
inline constexpr char kCommand2[] = "Cancel";

// What a screen reader calls the controls that show no caption.
inline constexpr char kImage1Name[] = "Zelvane update banner";
inline constexpr char kProgressBar1Name[] = "Update progress";

// The application's title, on every message box of the window that gives none.
inline constexpr char kApplicationTitle[] = "Zelvane updater";

// The backup notice that start-up shows over the window: two pieces joined by one carriage
// return, with the information icon.
inline constexpr char kNoticeFirstPiece[] = "If you have a download edition of Zelvane,";
inline constexpr char kNoticeSecondPiece[] =
    "then you are strongly encouraged to make a backup on CD of your original Zelvane installer "
    "if you haven't done so yet. ";
inline constexpr char kNoticeSeparator = '\r';
inline constexpr char kNoticeTitle[] = "Zelvane update";

// The folder chooser's prompt.
inline constexpr char kFolderPrompt[] = "Select directory";

// The window's own failures.
inline constexpr char kCannotStart[] = "The updater cannot start: ";
inline constexpr char kBannerUnreadable[] = "The banner bitmap cannot be read";
inline constexpr char kWindowGone[] = "the window was closed while the update ran";
inline constexpr char kCannotLoad[] = "cannot load";
inline constexpr char kBanner[] = "the banner picture";
inline constexpr char kCannotRegisterClass[] = "cannot register the window class";
inline constexpr char kCannotCreateWindow[] = "cannot create the window";
inline constexpr char kCannotCreateControl[] = "cannot create the control";
inline constexpr char kCannotCreateFont[] = "cannot create the font";
inline constexpr char kCannotShow[] = "cannot show";
inline constexpr char kFailureList[] = "the list of failures";

}  // namespace zelvane::ui::text
