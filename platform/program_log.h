// Points the global log at the program's daily file and writes the run's first lines.
// Thread: the main thread, once, before any other thread logs.
#pragma once

// The folder is "Quellbridger" in the application-data folder; the file Quellbridger_YYYYMMDD.txt.
void InitProgramLog();
