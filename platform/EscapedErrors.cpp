#include "platform/EscapedErrors.h"

#include <QtDebug>

namespace {
EscapedErrors::Sink &sink() {
    static EscapedErrors::Sink s;
    return s;
}
bool &reporting() {
    static bool busy = false;
    return busy;
}
} // namespace

namespace EscapedErrors {

void SetSink(Sink s) {
    sink() = std::move(s);
}

QString Describe(const std::exception &error) {
    if (const auto *own = dynamic_cast<const VelloqError *>(&error))
        return own->Description().isEmpty()
                   ? QStringLiteral("Error %1").arg(own->Number())
                   : QStringLiteral("Error %1: %2").arg(own->Number()).arg(own->Description());
    return QStringLiteral("Error: %1").arg(QString::fromLocal8Bit(error.what()));
}

void Report(const QString &line) {
    // A sink that fails itself (no status window any more) falls back to the log; a report
    // never raises a second report.
    if (sink() && !reporting()) {
        reporting() = true;
        try {
            sink()(line);
            reporting() = false;
            return;
        } catch (...) {
        }
        reporting() = false;
    }
    qWarning().noquote() << line;
}

} // namespace EscapedErrors
