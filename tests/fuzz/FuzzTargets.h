#pragma once

#include <QByteArrayView>

// One fuzz input each, for the libFuzzer programs and for the test that replays the corpus and
// every input that once made a target fail. Each keeps the client in a state it can go on from.
namespace FuzzTargets {
// Set by the libFuzzer programs: the process leaves at exit() without tearing the client down.
extern bool QuickExit;
// Received bytes through framing, decoding and processing into a connection with channels.
void ServerStream(QByteArrayView data);
// A typed command line through the interpreter, with connection 1 connected over loopback.
void Command(QByteArrayView data);
// Word splitting and joining, the token list, numbers and message splitting, with their
// round-trip properties checked.
void Words(QByteArrayView data);
// Ends the client the targets started.
void Shutdown();
} // namespace FuzzTargets
