#pragma once
class QMessageBox;
class QWidget;

/// No alert is narrower than this, in logical pixels, so that a window
/// manager never has to cut the title "Velmora Helper" short.
inline constexpr int kMinimumAlertWidth = 360;

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
