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
    file(channel);
    return channel;
}

void Channels::file(const std::shared_ptr<Channel> &channel) {
    Append(channel);
    m_byName.insert(channel->UpperName(), channel.get());
}

void Channels::RemoveAt(qint32 position) {
    const std::shared_ptr<Channel> channel = Item(position);
    m_byName.remove(channel->UpperName(), channel.get());
    Collection::RemoveAt(position);
}

bool Channels::SameName(QStringView a, QStringView b) {
    return a.toString().toUpper() == b.toString().toUpper();
}

// Names are compared in upper case; only letters change case, so [ never matches {.
std::shared_ptr<Channel> Channels::Item(QStringView Name) const {
    const Channel *first = nullptr;
    const auto [from, to] = m_byName.equal_range(Name.toString().toUpper());
    for (auto it = from; it != to; ++it)
        if (!first || (*it)->Index() < first->Index())
            first = *it;
    return first ? Item(first->Index()) : nullptr;
}

std::shared_ptr<Channel> Channels::Join(const QString &Name) {
    if (auto existing = Item(Name)) {
        existing->Join();
        return existing;
    }
    // The JOIN request of a new channel goes out before the channel is in the list.
    auto channel = place(Name);
    channel->Join();
    file(channel);
    return channel;
}

void Channels::MarkAllNotJoined() {
    for (const auto &channel : m_items.Snapshot())
        if (channel->Joined())
            channel->SetJoined(false);
}

void Channels::Delete() {
    Clear();
    m_parent = nullptr;
}

void Channels::SetParent(IRCConnection *parent) {
    if (!m_parent)
        m_parent = parent;
}
