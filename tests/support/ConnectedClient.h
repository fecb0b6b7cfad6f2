#pragma once

#include "support/AppFixture.h"
#include "support/ScriptedServer.h"

// The client connected (connection 1) to a scripted loopback server, as every suite that feeds
// server lines or reads the wire starts. Check `connected` first.
struct ConnectedClient {
    AppFixture app;
    ScriptedServer server;
    const bool connected = app.connectTo(server);

    // Sends server lines and waits until everything before a marker after them was processed.
    bool feed(const QByteArray &lines) { return app.feed(server, lines); }
    // The server confirms our JOIN of channel.
    bool join(const QByteArray &channel) { return feed(":me!u@h JOIN :" + channel + "\r\n"); }
};
