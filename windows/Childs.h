#pragma once

#include "platform/Collection.h"
#include "windows/Child.h"

class Application;

// The collection of all chat windows. A window's Index is its position; positions stay dense
// (1..Count) and whichever window stands at position 1 is the status window.
class Childs : public Collection<Child> {
public:
    // Opens one more window; in the background it leaves the focus where it is. Contents, when
    // known, is what the window holds (Child::SetContents), given before its caption is first set.
    std::shared_ptr<Child> Add(bool Foreground = true, const QString &Contents = QString());
    using Collection::Item;
    std::shared_ptr<Child> Item(const QString &Key) const { return m_items.ByKey(Key); }
    // The window with that key, or none when it is closed.
    std::shared_ptr<Child> Find(const QString &Key) const {
        return m_items.ContainsKey(Key) ? m_items.ByKey(Key) : nullptr;
    }
    Application *Parent() const { return pobjParent; }

    // For the program's own classes.
    void SetParent(Application *parent);
    void Delete();

private:
    Application *pobjParent = nullptr;
};
