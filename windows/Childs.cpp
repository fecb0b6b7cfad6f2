#include "windows/Childs.h"

#include "app/Application.h"

std::shared_ptr<Child> Childs::Add(bool Foreground, const QString &Contents) {
    auto window =
        std::make_shared<Child>(pobjParent ? pobjParent->MainWindow() : nullptr, Foreground);
    window->SetContents(Contents);
    window->SetIndex(Count() + 1);
    window->SetParent(this);
    Append(window);
    return window;
}

void Childs::SetParent(Application *parent) {
    if (!pobjParent)
        pobjParent = parent;
}

void Childs::Delete() {
    Clear();
    pobjParent = nullptr;
}
