// What the suite's stand-in for the Terminal Services library records, read by the tests
// through its export "wtsDoubleRecord".
#pragma once

#include <windows.h>

struct WtsDoubleRecord {
    LONG queries;        // calls of WTSQuerySessionInformationW
    LONG allocations;    // buffers handed back
    LONG releases;       // buffers released with WTSFreeMemory
    LONG strayReleases;  // WTSFreeMemory calls with a pointer that was not a live buffer
    HANDLE lastServer;   // arguments of the last query
    DWORD lastSession;
    int infoClasses[2];  // information classes of the first two queries
};

using WtsDoubleRecordFunction = WtsDoubleRecord* (*)();
