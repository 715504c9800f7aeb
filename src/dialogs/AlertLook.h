#pragma once
#include <QString>

class QFontMetrics;
class QMessageBox;
class QWidget;

/// No alert is narrower than this, in logical pixels, so that a window
/// manager never has to cut the title "Velmora Helper" short.
inline constexpr int kMinimumAlertWidth = 360;

/// An alert shows at most this many lines of a text from outside (an
/// engine's output, a tool's error) ...
inline constexpr int kShownLines = 5;
/// ... and at most this many characters of it; the whole text is under "Show Details…".
inline constexpr int kShownCharacters = 400;
/// A run of text without a break opportunity that is wider than this, in
/// logical pixels, may break anywhere: a long name without spaces keeps the
/// alert narrow.
inline constexpr int kWidestUnbrokenRun = 300;

/// The break opportunity breakableForDisplay() adds: a zero-width space.
inline constexpr QChar kDisplayBreak{0x200B};

/// The picture an alert carries, telling its kind at a glance.
enum class AlertIcon {
  helper,   ///< the helper's own icon: the confirmation and the notices
  warning,  ///< the style's warning sign: refusals and failures
};

/// Gives a message box whose texts and buttons are set the helper's look: the
/// icon, the heading in bold above the informative text, and the minimum
/// width. Call it after the last change that rebuilds the box's layout
/// (texts, icon); `addBelowText` after it.
void giveAlertItsLook(QMessageBox& box, AlertIcon icon);

/// Shows `widget` (which the box takes over) below the informative text and
/// above the buttons.
void addBelowText(QMessageBox& box, QWidget* widget);

/// The first lines of `text` that an alert shows in full: at most kShownLines
/// lines and kShownCharacters characters, cut at a break opportunity where
/// there is one and never inside a character, and ending in "…" when
/// anything was left out. `text` itself when it fits.
QString firstLinesOf(const QString& text);

/// `text` for display only, with kDisplayBreak between the characters of
/// every run without a break opportunity that is wider than `widest` in
/// `metrics`, so that a label wraps it anywhere. Never use it for a value that
/// goes anywhere but on screen.
QString breakableForDisplay(const QString& text, const QFontMetrics& metrics,
                            int widest = kWidestUnbrokenRun);
