#pragma once

#include "platform/StringArray.h"

#include <QString>
#include <memory>

class Application;

// The program entry, the one global reference to the application object, and the module
// functions used across the program.
namespace modMain {

// Creates the application object and stores it as the global reference.
void Main();
// Replaces the global reference. Dropping it (nullptr) lets the application object go once the
// event that is being handled is over, never under the call still running.
void SetApplication(std::shared_ptr<Application> App);
// Releases whatever is still held, at once; main() calls it after the event loop has ended.
void ReleaseApplication();
// The held application object, for the program entry and for tests; no other code reads it.
Application *CurrentApplication();

QString GetVersionTitle();
// The nickname part of a message prefix: the characters before the first "!", or the whole
// prefix when it has none (a server name).
QString NickFromPrefix(const QString &Prefix);
QStringView NickFromPrefix(QStringView Prefix);
// The Count elements from index Start on, keeping their indices. Fails with error 0x8004040E for
// a negative count or a range outside the source.
StringArray SliceArray(const StringArray &Source, qint32 Start, qint32 Count);

} // namespace modMain
