#include "app/modMain.h"

#include "app/Application.h"
#include "platform/Utilities.h"
#include "platform/VelloqError.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace {
std::shared_ptr<Application> &globalApplication() {
    static std::shared_ptr<Application> app;
    return app;
}
} // namespace

namespace modMain {

void Main() {
    globalApplication() = std::make_shared<Application>();
}

void SetApplication(std::shared_ptr<Application> App) {
    std::shared_ptr<Application> previous = std::exchange(globalApplication(), std::move(App));
    if (!previous)
        return;
    // The caller may be a method of that very object: release it after the current event.
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app, [held = std::move(previous)]() mutable { held.reset(); }, Qt::QueuedConnection);
}

void ReleaseApplication() {
    globalApplication().reset();
}

Application *CurrentApplication() {
    return globalApplication().get();
}

QString GetVersionTitle() {
    return QStringLiteral("Velloq %1.%2.%3")
        .arg(VELLOQ_VERSION_MAJOR)
        .arg(VELLOQ_VERSION_MINOR)
        .arg(VELLOQ_VERSION_PATCH);
}

QString NickFromPrefix(const QString &Prefix) {
    return NickFromPrefix(QStringView(Prefix)).toString();
}

QStringView NickFromPrefix(QStringView Prefix) {
    const qsizetype bang = Prefix.indexOf(QLatin1Char('!'));
    return bang < 0 ? Prefix : Prefix.left(bang);
}

StringArray SliceArray(const StringArray &Source, qint32 Start, qint32 Count) {
    const auto badRange = [] {
        return VelloqError(VelloqError::BadArrayRange, QString());
    };
    if (Count < 0)
        throw badRange();
    if (Utilities::IsEmptyArray(Source) || Count == 0)
        return StringArray({}, 0);
    const qint64 last = static_cast<qint64>(Start) + Count - 1;
    if (Start < Source.LowerBound || last > Source.UpperBound())
        throw badRange();
    return StringArray(Source.Items.mid(Start - Source.LowerBound, Count), Start);
}

} // namespace modMain
