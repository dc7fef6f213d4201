// Thread: UI thread only.
// Accessibility for the painted controls that Qt does not know: the progress bar and the
// transparent label. The bitmap buttons are push buttons to Qt already.
#pragma once

// Registers the factory once per process; every painted control calls it when it is made.
void InstallSkinAccessibleFactory();
