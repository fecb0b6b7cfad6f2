#pragma once

#include "support/AppFixture.h"
#include "support/ScriptedServer.h"

#include <QList>

// The client, connected (connection 1) to a scripted loopback server unless told otherwise.
// Check `connected` first.
struct ConnectedClient {
    explicit ConnectedClient(bool online = true) : connected(online && connect()) {}
    AppFixture app;
    ScriptedServer server;
    const bool connected;

    // Connects through a typed /server line and waits for the status window to report it.
    bool connect();
    // Sends server lines, then a marker line, and waits until the marker has been shown in the
    // status window: everything before it has been processed.
    bool feed(const QByteArray &lines);
    // The server confirms our JOIN of channel.
    bool join(const QByteArray &channel) { return feed(":me!u@h JOIN :" + channel + "\r\n"); }
};

// Runs a script against a fresh client, connected to a scripted server unless the script starts
// with "offline", and checks
// that every window shows exactly the lines the script expects (leaving out the fixture's own
// connection lines and markers) and that the wire carries exactly the lines it expects.
//
// Items, in order; %1 stands for the scripted server's port, %2 for a port nobody listens on,
// %3 for a port that accepts connections and never answers:
//   "N> text"   types text in window N (the window then shows the typed line; the lines of a
//               text of several show as they go out, each given with "N: line")
//   "N? text"   runs text as a command not from the user, in window N
//   "N: text"   window N shows text next (waited for)
//   "> line"    the client sends line next (waited for)
//   "< line"    the server sends line and it is processed
//   "<< line"   the same, and the status window shows it raw
//   "<| bytes"  the server sends bytes as they are, and the client may read them
//   "drop"      the server closes the connection
//   "+"         a plain window opens
//   "close N"   the user closes window N
//   "send text" the program sends text as one line on connection 1
//   "pace B MS" connection 1 sends B messages at once, then one every MS milliseconds
//   "quiet MS"  nothing happens for MS milliseconds
//   "handshake N"  TLS handshakes of connection 1 time out after N ms
//   "join #c", "delete #c"   the program joins or deletes channel #c
//   "keys text" types text (a line break: Return) wherever the keyboard focus is
//   "focus N"   the keyboard focus is in window N's input box (waited for)
//   "= N #a #b" at the end N windows are open and connection 1 holds channels #a and #b
void runScript(const QList<QByteArray> &script);
