// The probe's session line: Terminal Services detected or not, the session id and the client
// name of the probe's own session.
#include <com_ulvex_kesp_tavik_common_win32_TerminalServer.h>

#include <cstdio>

#include "probe.h"

void probeSession(jnitest::JniHost& host, const jnitest::Library& library) {
    auto isTerminalServer =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer,
                   "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_isTerminalServer");
    auto getSessionId =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId,
                   "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getSessionId");
    auto getClientName =
        library.fn(Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName,
                   "Java_com_ulvex_kesp_tavik_common_win32_TerminalServer_getClientName");
    jboolean terminalServer = host.call(isTerminalServer);
    jint sessionId = host.call(getSessionId);
    jstring clientName = host.call(getClientName);
    std::printf("session: terminal server %s, session id %ld, client name %s\n",
                terminalServer ? "yes" : "no", static_cast<long>(sessionId),
                clientName != nullptr ? host.utf8(clientName).c_str() : "(none)");
}
