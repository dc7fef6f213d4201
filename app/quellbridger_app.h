// The installer process: one copy per user session, the main dialog run modally, the
// process ending with it. Thread: the main thread; owns the lock and the dialog's lifetime.
#pragma once

#include "platform/instance_lock.h"

class CQuellbridgerApp {
public:
    CQuellbridgerApp();
    // Runs everything; returns the process's exit code.
    int InitInstance();
    int ExitInstance();

private:
    CInstanceLock m_hMutex;
};
