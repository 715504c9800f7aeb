#pragma once

class FrontEnd;

/// Tells the user that the skin they just opened was not taken up because
/// another one is being applied. Shown by a later launch that the running
/// instance answered "busy", and by the running instance itself for an input
/// it was handed before the apply began or that the system delivered during it.
void showBusyAlert(FrontEnd& ui);
