// Thread: UI thread; constant tables owned by no one.
// Layout, control ids, colours and picture ids of the skinned main window: one source shared by
// the window, its tests and the artwork generator.
#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <array>

#include "core/control_ids.h"
#include "ui/color_ref.h"

// Window frame.
inline constexpr int SKIN_WINDOW_WIDTH = 640;
inline constexpr int SKIN_WINDOW_HEIGHT = 380;
inline constexpr const char* SKIN_WINDOW_TITLE = "Quellbridger for Talvermoor";

// Picture ids (bitmaps 131 to 154, icon 127).
enum : unsigned {
    IDI_MAIN = 127,
    IDB_BACKGROUND = 131,
    IDB_CLOSE_BOX = 132,
    IDB_CLOSE_BOX_HOVER = 133,
    IDB_MINIMIZE_BOX = 134,
    IDB_MINIMIZE_BOX_HOVER = 135,
    IDB_CANCEL = 136,
    IDB_CANCEL_DISABLED = 137,
    IDB_CANCEL_FOCUS = 138,
    IDB_CANCEL_HOVER = 139,
    IDB_BROWSE = 140,
    IDB_BROWSE_DISABLED = 141,
    IDB_BROWSE_HOVER = 142,
    IDB_LAUNCH = 143,
    IDB_LAUNCH_DISABLED = 144,
    IDB_LAUNCH_FOCUS = 145,
    IDB_LAUNCH_HOVER = 146,
    IDB_START = 147,
    IDB_START_DISABLED = 148,
    IDB_START_FOCUS = 149,
    IDB_START_HOVER = 150,
    IDB_PAUSE = 151,
    IDB_PAUSE_DISABLED = 152,
    IDB_PAUSE_FOCUS = 153,
    IDB_PAUSE_HOVER = 154,
    IDB_BROWSE_FOCUS = 155,  // the folder button under keyboard focus
};

// Colours of the skin.
inline constexpr COLORREF SKIN_LABEL_COLOR = RGB(149, 149, 151);    // transparent labels
inline constexpr COLORREF SKIN_ORANGE = RGB(255, 96, 8);            // headings, total bar
inline constexpr COLORREF SKIN_FILE_BAR_COLOR = RGB(98, 98, 98);    // file bar
inline constexpr COLORREF SKIN_CAPTION_COLOR = RGB(255, 255, 255);  // fixed captions
inline constexpr COLORREF SKIN_BOX_COLOR = RGB(83, 83, 83);         // box outlines
inline constexpr COLORREF SKIN_SEPARATOR_COLOR = RGB(68, 68, 68);
inline constexpr COLORREF SKIN_GLYPH_COLOR = RGB(204, 204, 204);  // minimise and close glyphs
inline constexpr COLORREF SKIN_PANEL_COLOR = RGB(0, 0, 0);        // right-hand panel

enum class SkinControlKind { Button, Label, ProgressBar, Picture };

struct SkinControl {
    int nId;
    SkinControlKind kind;
    QRect rc;            // pixels in the client area; a button's size is its normal picture's
    const char* szText;  // a label's first text; a button's picture lettering
    bool bEndEllipsis;   // label ends a too-long text with an ellipsis
};

// Template order, which is also tab and creation order.
inline constexpr std::array<SkinControl, 24> SKIN_CONTROLS{{
    {IDC_CHANGE_PATH, SkinControlKind::Button, QRect(548, 257, 67, 23), "Browse..", false},
    {IDC_START, SkinControlKind::Button, QRect(285, 320, 77, 27), "Start", false},
    {IDC_STOP, SkinControlKind::Button, QRect(369, 320, 77, 27), "Pause", false},
    {IDC_RUN, SkinControlKind::Button, QRect(453, 320, 77, 27), "Launch", false},
    {IDC_CLOSE, SkinControlKind::Button, QRect(537, 320, 77, 27), "Cancel", false},
    {IDC_FILE_NAME, SkinControlKind::Label, QRect(357, 56, 193, 14), "file name", false},
    {IDC_SPEED, SkinControlKind::Label, QRect(546, 79, 88, 14), "0 Bytes/sec", false},
    {IDC_FILE_SIZE, SkinControlKind::Label, QRect(343, 79, 89, 14), "0 Bytes", false},
    {IDC_TIME_ELAPSED, SkinControlKind::Label, QRect(373, 100, 67, 14), "00:00:00", false},
    {IDC_TIME_LEFT, SkinControlKind::Label, QRect(509, 100, 61, 14), "00:00:00", false},
    {IDC_FILE_SIZE_RIGHT, SkinControlKind::Label, QRect(527, 149, 75, 14), "0 Bytes", false},
    {IDC_TOTAL_DONE, SkinControlKind::Label, QRect(408, 191, 74, 14), "0 Bytes", false},
    {IDC_TOTAL_SLASH, SkinControlKind::Label, QRect(487, 191, 14, 14), "/", false},
    {IDC_TOTAL_SIZE, SkinControlKind::Label, QRect(527, 191, 75, 14), "0 Bytes", false},
    {IDC_FILE_PROGRESS, SkinControlKind::ProgressBar, QRect(368, 128, 249, 16), "", false},
    {IDC_TOTAL_PROGRESS, SkinControlKind::ProgressBar, QRect(369, 170, 249, 16), "", false},
    {IDC_BACKGROUND, SkinControlKind::Picture, QRect(0, 0, 640, 380), "", false},
    {IDC_FILE_SLASH, SkinControlKind::Label, QRect(490, 149, 14, 14), "/", false},
    {IDC_FILE_DONE, SkinControlKind::Label, QRect(408, 149, 75, 14), "0 Bytes", false},
    {IDC_REQUIRED_SPACE, SkinControlKind::Label, QRect(390, 289, 58, 18), "0 Bytes", false},
    {IDC_AVAILABLE_SPACE, SkinControlKind::Label, QRect(550, 289, 75, 18), "0 Bytes", false},
    {IDC_INSTALL_PATH, SkinControlKind::Label, QRect(291, 261, 233, 14), "path", true},
    {IDC_MINIMIZE_BOX, SkinControlKind::Button, QRect(588, 9, 14, 14), "", false},
    {IDC_CLOSE_BOX, SkinControlKind::Button, QRect(613, 9, 14, 14), "", false},
}};

// Null when the id is not one of the window's controls.
const SkinControl* FindSkinControl(int nId);

// State pictures of one button, 0 = none; LoadBitmaps(normal, selected, focused, disabled)
// then SetHoverBitmap(hover).
struct SkinButton {
    int nId;
    unsigned nNormal, nSelected, nFocused, nDisabled, nHover;
};

// Set-up order.
inline constexpr std::array<SkinButton, 7> SKIN_BUTTONS{{
    {IDC_START, IDB_START, IDB_START_HOVER, IDB_START_FOCUS, IDB_START_DISABLED, IDB_START_HOVER},
    {IDC_STOP, IDB_PAUSE, IDB_PAUSE_HOVER, IDB_PAUSE_FOCUS, IDB_PAUSE_DISABLED, IDB_PAUSE_HOVER},
    {IDC_RUN, IDB_LAUNCH, IDB_LAUNCH_HOVER, IDB_LAUNCH_FOCUS, IDB_LAUNCH_DISABLED,
     IDB_LAUNCH_HOVER},
    {IDC_CLOSE, IDB_CANCEL, IDB_CANCEL_HOVER, IDB_CANCEL_FOCUS, IDB_CANCEL_DISABLED,
     IDB_CANCEL_HOVER},
    {IDC_CHANGE_PATH, IDB_BROWSE, 0, 0, IDB_BROWSE_DISABLED, IDB_BROWSE_HOVER},
    {IDC_MINIMIZE_BOX, IDB_MINIMIZE_BOX, 0, IDB_MINIMIZE_BOX_HOVER, 0, IDB_MINIMIZE_BOX_HOVER},
    {IDC_CLOSE_BOX, IDB_CLOSE_BOX, 0, IDB_CLOSE_BOX_HOVER, 0, IDB_CLOSE_BOX_HOVER},
}};

// Range, colours and text options of one progress bar, applied in this order: SetRange,
// SetBkColor, SetBarColor, SetTextColor, SetBarTextColor, SetTextAlign, SetShowPercent.
struct SkinProgressBar {
    int nId;
    int nMin, nMax;
    COLORREF crBk, crBar, crText, crBarText;
    int nTextAlign;
    bool bShowPercent;
};

inline constexpr std::array<SkinProgressBar, 2> SKIN_PROGRESS_BARS{{
    {IDC_FILE_PROGRESS, 0, 100, RGB(0, 0, 0), SKIN_FILE_BAR_COLOR, RGB(255, 255, 255),
     RGB(255, 255, 255), 1, true},
    {IDC_TOTAL_PROGRESS, 0, 100, RGB(0, 0, 0), SKIN_ORANGE, RGB(255, 255, 255), RGB(255, 255, 255),
     1, true},
}};

// The 1-pixel ring the bars draw along their border takes the palette's button colour (the
// system's 3-D face colour); giving the bars this colour for QPalette::Button blends the ring
// into the box outline of the background picture.
inline constexpr COLORREF SKIN_BAR_EDGE_COLOR = SKIN_BOX_COLOR;

struct SkinBitmap {
    unsigned nId;
    int nWidth, nHeight;
    const char* szFile;  // file in resources/
};

inline constexpr std::array<SkinBitmap, 25> SKIN_BITMAPS{{
    {IDB_BACKGROUND, 640, 380, "bmp_131_background.png"},
    {IDB_CLOSE_BOX, 14, 14, "bmp_132_close_box.png"},
    {IDB_CLOSE_BOX_HOVER, 14, 14, "bmp_133_close_box_hover.png"},
    {IDB_MINIMIZE_BOX, 14, 14, "bmp_134_minimize_box.png"},
    {IDB_MINIMIZE_BOX_HOVER, 14, 14, "bmp_135_minimize_box_hover.png"},
    {IDB_CANCEL, 77, 27, "bmp_136_cancel.png"},
    {IDB_CANCEL_DISABLED, 77, 27, "bmp_137_cancel_disabled.png"},
    {IDB_CANCEL_FOCUS, 77, 27, "bmp_138_cancel_focus.png"},
    {IDB_CANCEL_HOVER, 77, 27, "bmp_139_cancel_hover.png"},
    {IDB_BROWSE, 67, 23, "bmp_140_browse.png"},
    {IDB_BROWSE_DISABLED, 67, 23, "bmp_141_browse_disabled.png"},
    {IDB_BROWSE_HOVER, 67, 23, "bmp_142_browse_hover.png"},
    {IDB_LAUNCH, 77, 27, "bmp_143_launch.png"},
    {IDB_LAUNCH_DISABLED, 77, 27, "bmp_144_launch_disabled.png"},
    {IDB_LAUNCH_FOCUS, 77, 27, "bmp_145_launch_focus.png"},
    {IDB_LAUNCH_HOVER, 77, 27, "bmp_146_launch_hover.png"},
    {IDB_START, 77, 27, "bmp_147_start.png"},
    {IDB_START_DISABLED, 77, 27, "bmp_148_start_disabled.png"},
    {IDB_START_FOCUS, 77, 27, "bmp_149_start_focus.png"},
    {IDB_START_HOVER, 77, 27, "bmp_150_start_hover.png"},
    {IDB_PAUSE, 77, 27, "bmp_151_pause.png"},
    {IDB_PAUSE_DISABLED, 77, 27, "bmp_152_pause_disabled.png"},
    {IDB_PAUSE_FOCUS, 77, 27, "bmp_153_pause_focus.png"},
    {IDB_PAUSE_HOVER, 77, 27, "bmp_154_pause_hover.png"},
    {IDB_BROWSE_FOCUS, 67, 23, "bmp_155_browse_focus.png"},
}};

// Every picture is also drawn at twice the size, embedded as "<id>@2x.png", for screens with a
// device pixel ratio above 1.
inline constexpr int SKIN_HIGH_DPI_RATIO = 2;

// Buttons whose state pictures have no focused one get this picture while they hold the focus
// that the keyboard gave them, so Tab always shows where it is.
struct SkinKeyboardFocus {
    int nId;
    unsigned nBitmap;
};
inline constexpr std::array<SkinKeyboardFocus, 1> SKIN_KEYBOARD_FOCUS{{
    {IDC_CHANGE_PATH, IDB_BROWSE_FOCUS},
}};

// What a screen reader calls the buttons (what they do) and the bars (their rows' captions);
// the labels are read by their texts.
struct SkinControlName {
    int nId;
    const char* szName;
};
inline constexpr std::array<SkinControlName, 9> SKIN_CONTROL_NAMES{{
    {IDC_START, "Start"},
    {IDC_STOP, "Pause"},
    {IDC_RUN, "Launch"},
    {IDC_CLOSE, "Cancel"},
    {IDC_CHANGE_PATH, "Browse"},
    {IDC_MINIMIZE_BOX, "Minimize"},
    {IDC_CLOSE_BOX, "Close"},
    {IDC_FILE_PROGRESS, "Downloaded"},
    {IDC_TOTAL_PROGRESS, "Total"},
}};
// The name above, or "" for a control without one.
const char* SkinAccessibleName(int nId);

inline constexpr int SKIN_ICON_SIZE = 128;
inline constexpr const char* SKIN_ICON_FILE = "ico_127_app.png";

// Fixed captions of the background picture. The pixel box is inclusive; texts that share a
// line share its y range, and their ink together fills it (descenders included).
struct SkinCaption {
    const char* szText;
    QRect rcBox;
    COLORREF cr;
    bool bBold;
};

inline constexpr std::array<SkinCaption, 11> SKIN_CAPTIONS{{
    {"Transfer Status", QRect(QPoint(285, 33), QPoint(386, 44)), SKIN_ORANGE, true},
    {"File Name :", QRect(QPoint(285, 58), QPoint(344, 67)), SKIN_CAPTION_COLOR, false},
    {"File Size :", QRect(QPoint(285, 80), QPoint(333, 92)), SKIN_CAPTION_COLOR, false},
    {"Download Speed :", QRect(QPoint(443, 80), QPoint(540, 92)), SKIN_CAPTION_COLOR, false},
    {"Time Elapsed :", QRect(QPoint(284, 101), QPoint(361, 113)), SKIN_CAPTION_COLOR, false},
    {"Time Left :", QRect(QPoint(442, 101), QPoint(498, 113)), SKIN_CAPTION_COLOR, false},
    {"Downloaded", QRect(QPoint(285, 130), QPoint(351, 139)), SKIN_CAPTION_COLOR, false},
    {"Total", QRect(QPoint(284, 172), QPoint(309, 181)), SKIN_CAPTION_COLOR, false},
    {"Download Folder", QRect(QPoint(286, 232), QPoint(401, 243)), SKIN_ORANGE, true},
    {"Required Storage :", QRect(QPoint(285, 290), QPoint(384, 302)), SKIN_CAPTION_COLOR, false},
    {"Available Storage :", QRect(QPoint(441, 290), QPoint(541, 302)), SKIN_CAPTION_COLOR, false},
}};

// Glyphs of the missing caption's boxes (a bar and a diagonal cross), in SKIN_GLYPH_COLOR;
// the minimise and close buttons cover them with the same glyphs.
inline constexpr QRect SKIN_MINIMIZE_GLYPH = QRect(QPoint(588, 15), QPoint(599, 16));
inline constexpr QRect SKIN_CLOSE_GLYPH = QRect(QPoint(614, 10), QPoint(625, 21));

// Outlined boxes (inclusive outline rectangle, black inside) and the separator line.
inline constexpr std::array<QRect, 3> SKIN_BOXES{{
    QRect(QPoint(369, 127), QPoint(616, 143)),  // file progress bar
    QRect(QPoint(369, 169), QPoint(616, 185)),  // total progress bar
    QRect(QPoint(285, 257), QPoint(541, 279)),  // install path
}};
inline constexpr QRect SKIN_SEPARATOR = QRect(QPoint(285, 217), QPoint(630, 217));

// Left edge of the black right-hand panel; the game artwork lies left of it.
inline constexpr int SKIN_PANEL_LEFT = 268;

class CBitmapButtonEx;
class CTextProgressCtrl;

// The skin set-up of one control as the main window performs it. A button: LoadBitmaps,
// SizeToContent at its place, SetHoverBitmap; false when a picture is missing. A bar: range,
// colours, alignment and percentage in the table's order, and the edge colour.
bool SetUpSkinButton(CBitmapButtonEx& button, const SkinButton& skin);
void SetUpSkinProgressBar(CTextProgressCtrl& bar, const SkinProgressBar& skin);

// "MS Shell Dlg" 9 points, the font of the window and of every control on it.
QFont SkinDialogFont();

// A bitmap or icon of the program's resources by id; a null image when there is none. For a
// device pixel ratio above 1 the bitmap drawn at SKIN_HIGH_DPI_RATIO, carrying that ratio (the
// 1x one when there is no such picture). Pictures are read once and shared.
QImage LoadBitmapResource(unsigned nId, qreal dDevicePixelRatio = 1.0);
// The ratio of the pictures LoadBitmapResource gives for a device pixel ratio.
int SkinPictureRatio(qreal dDevicePixelRatio);

// The room a label's text has: its rectangle, cut short before the next caption of the background
// on its line, so that a value never runs into the caption beside it.
QRect SkinLabelTextRect(int nId);
QImage LoadIconResource(unsigned nId);
