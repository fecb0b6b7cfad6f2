#include "channel/Channels.h"

// A new channel gets its position, its parent (and with it its window) and its name, in that
// order.
std::shared_ptr<Channel> Channels::place(const QString &Name) {
    auto channel = std::make_shared<Channel>();
    channel->SetIndex(Count() + 1);
    channel->SetParent(this);
    channel->SetName(Name);
    return channel;
}

std::shared_ptr<Channel> Channels::Add(const QString &Name) {
    auto channel = place(Name);
    Append(channel);
    return channel;
}

std::shared_ptr<Channel> Channels::Item(const QString &Name) const {
    const QString wanted = Name.toUpper();
    for (const auto &channel : m_items)
        if (channel->Name().toUpper() == wanted)
            return channel;
    return nullptr;
}

std::shared_ptr<Channel> Channels::Join(const QString &Name) {
    if (auto existing = Item(Name)) {
        existing->Join();
        return existing;
    }
    // The JOIN request of a new channel goes out before the channel is in the list.
    auto channel = place(Name);
    channel->Join();
    Append(channel);
    return channel;
}

void Channels::Delete() {
    Clear();
    m_parent = nullptr;
}

void Channels::SetParent(IRCConnection *parent) {
    if (!m_parent)
        m_parent = parent;
}
