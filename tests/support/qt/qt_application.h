// The one QApplication of a widget test binary, made on first use (on the offscreen platform
// unless another is set) and kept until the process ends. Thread: the test's main thread.
#pragma once

void EnsureQtApplication();
