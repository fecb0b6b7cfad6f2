#pragma once

#include "platform/VelloqError.h"

#include <QString>
#include <exception>
#include <functional>

// Errors must never unwind through the toolkit's event loop. Every entry point from the toolkit
// into our objects runs its work through Guarded(), which turns an escaped error into one report
// line for the user and lets the program go on.
namespace EscapedErrors {
using Sink = std::function<void(const QString &line)>;
// Where report lines go (the status window, once there is one); without a sink they are logged.
void SetSink(Sink sink);
void Report(const QString &line);
QString Describe(const std::exception &error);
} // namespace EscapedErrors

template <class F> void Guarded(F &&work) noexcept {
    try {
        work();
    } catch (const std::exception &error) {
        EscapedErrors::Report(EscapedErrors::Describe(error));
    } catch (...) {
        EscapedErrors::Report(QStringLiteral("Error: unknown failure"));
    }
}
