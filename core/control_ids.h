// Control ids of the main window, by which the installer core names what a view shows.
// Thread: any; constants.
#pragma once

// Control ids of the main window.
enum : int {
    IDC_CLOSE = 2,  // the Close ("Cancel") button, the dialog's cancel id
    IDC_START = 1001,
    IDC_STOP = 1003,
    IDC_CHANGE_PATH = 1005,
    IDC_FILE_PROGRESS = 1007,
    IDC_TOTAL_PROGRESS = 1008,
    IDC_FILE_NAME = 1009,
    IDC_SPEED = 1011,
    IDC_FILE_SIZE_RIGHT = 1012,
    IDC_FILE_SIZE = 1013,
    IDC_TIME_ELAPSED = 1015,
    IDC_TIME_LEFT = 1016,
    IDC_TOTAL_DONE = 1020,
    IDC_TOTAL_SIZE = 1021,
    IDC_RUN = 1022,
    IDC_FILE_DONE = 1023,
    IDC_BACKGROUND = 1024,
    IDC_REQUIRED_SPACE = 1025,
    IDC_FILE_SLASH = 1026,
    IDC_AVAILABLE_SPACE = 1027,
    IDC_TOTAL_SLASH = 1028,
    IDC_INSTALL_PATH = 1029,
    IDC_MINIMIZE_BOX = 1030,
    IDC_CLOSE_BOX = 1031,
};

// Timers a view runs for the core and reports back by id.
constexpr int ELAPSED_TIMER_ID = 5001;   // the elapsed-time clock, every second while a run goes
constexpr int LAUNCHER_TIMER_ID = 5002;  // the watch on a starting launcher
