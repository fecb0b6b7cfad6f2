#include "windows/ScreenReader.h"

#include <QAccessible>

namespace {
struct Watch : QAccessible::ActivationObserver {
    bool active = QAccessible::isActive();
    Watch() { QAccessible::installActivationObserver(this); }
    void accessibilityActiveChanged(bool on) override { active = on; }
};

// Never deleted: Qt's list of observers may be gone before a static object would be.
Watch *watch() {
    static Watch *const instance = new Watch;
    return instance;
}
const bool watching = watch() != nullptr;
} // namespace

bool ScreenReader::listening() {
    return watch()->active;
}
