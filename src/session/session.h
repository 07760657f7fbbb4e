// Terminal-session information shared between the session-query loader and the queries.
#pragma once

#include <windows.h>

namespace ulvex {

// WTSQuerySessionInformationW: server, session, information class, the buffer the function
// allocates, and its length in bytes.
using SessionQueryFunction = BOOL(WINAPI*)(HANDLE server, DWORD session, int infoClass,
                                           LPWSTR* buffer, DWORD* bytes);
// WTSFreeMemory: releases a buffer that the query handed back.
using SessionFreeFunction = void(WINAPI*)(void* memory);

// Set while Windows loads the library, before the entry routine runs; only read afterwards.
// Null when the Terminal Services library or the function is missing.
extern SessionQueryFunction sessionQueryFunction;
extern SessionFreeFunction sessionFreeFunction;

}  // namespace ulvex
