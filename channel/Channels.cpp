#include "channel/Channels.h"

#include "channel/ChannelName.h"
#include "connection/MessageLine.h"
#include "windows/Child.h"

#include <QLineEdit>
#include <algorithm>

// A new channel gets its position and its name, and is marked joined when the server has said
// so, before its parent (and with it its window): the window opens with its caption, and nothing
// is reported before the channel has a connection.
std::shared_ptr<Channel> Channels::place(const QString &Name, bool Joined) {
    auto channel = std::make_shared<Channel>();
    channel->SetIndex(Count() + 1);
    channel->SetName(Name);
    if (Joined)
        channel->SetJoined(true);
    channel->SetParent(this);
    return channel;
}

std::shared_ptr<Channel> Channels::Add(const QString &Name) {
    auto channel = place(Name, true);
    file(channel);
    return channel;
}

void Channels::file(const std::shared_ptr<Channel> &channel) {
    Append(channel);
    m_byName.emplace(ChannelName::Hash(channel->Name()), channel.get());
}

void Channels::RemoveAt(qint32 position) {
    const std::shared_ptr<Channel> channel = Item(position);
    const auto [from, to] = m_byName.equal_range(ChannelName::Hash(channel->Name()));
    m_byName.erase(
        std::find_if(from, to, [&](const auto &entry) { return entry.second == channel.get(); }));
    m_lastFound = nullptr;
    Collection::RemoveAt(position);
}

bool Channels::SameName(QStringView a, QStringView b) {
    return ChannelName::Same(a, b);
}

// Names are compared letter by letter in upper case; only letters change case, so [ never
// matches {. The hash narrows the search to the names that fold alike, or collide.
std::shared_ptr<Channel> Channels::Item(QStringView Name) const {
    if (m_lastFound && SameName(m_lastFound->Name(), Name))
        return Item(m_lastFound->Index());
    const Channel *first = nullptr;
    const auto [from, to] = m_byName.equal_range(ChannelName::Hash(Name));
    for (auto it = from; it != to; ++it)
        if ((!first || it->second->Index() < first->Index()) && SameName(it->second->Name(), Name))
            first = it->second;
    m_lastFound = first;
    return first ? Item(first->Index()) : nullptr;
}

std::shared_ptr<Channel> Channels::Join(const QString &Name) {
    if (auto existing = Item(Name)) {
        existing->Join();
        return existing;
    }
    // The JOIN request of a new channel goes out before the channel is in the list.
    auto channel = place(Name, false);
    channel->Join();
    file(channel);
    return channel;
}

void Channels::MarkAllNotJoined(const QString &Why) {
    for (const auto &channel : m_items.Snapshot())
        if (channel->Joined())
            channel->MarkNotJoined(Why);
}

void Channels::NoteJoinRequest(QStringView Names, const std::shared_ptr<Child> &From) {
    m_requested = Names.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    m_requestedFrom = From;
}

void Channels::NoteSent(QByteArrayView Wire) {
    // Most lines sent are neither PART nor JOIN: they are passed over before anything is decoded.
    const auto starts = [Wire](const char *verb) {
        return Wire.size() > 5 && qstrnicmp(Wire.data(), verb, 5) == 0;
    };
    if (!starts("PART ") && !starts("JOIN "))
        return;
    const QString text = QString::fromUtf8(Wire.endsWith("\r\n") ? Wire.chopped(2) : Wire);
    const MessageLine line = MessageLine::Parse(text); // a view into text
    if (!line.Valid() || line.HasPrefix() || line.ParamCount() < 1)
        return;
    const QStringView command = line.Command();
    if (command.compare(u"JOIN", Qt::CaseInsensitive) == 0 && line.Param(0) == u"0") {
        for (const auto &channel : m_items.Snapshot())
            channel->NotePartRequested();
        return;
    }
    if (command.compare(u"PART", Qt::CaseInsensitive) != 0)
        return;
    for (const QStringView name : line.Param(0).tokenize(u','))
        if (const std::shared_ptr<Channel> channel = Item(name))
            channel->NotePartRequested();
}

// A channel window takes the focus only when the user asked for it and is not typing elsewhere
// by now: a raw JOIN typed right after another must not land in the first channel's window.
void Channels::Confirmed(Channel &channel) {
    const qsizetype at =
        std::find_if(m_requested.cbegin(), m_requested.cend(),
                     [&](const QString &name) { return SameName(name, channel.Name()); }) -
        m_requested.cbegin();
    if (at == m_requested.size())
        return;
    m_requested.removeAt(at);
    const std::shared_ptr<Child> from = m_requestedFrom.lock();
    const std::shared_ptr<Child> window = channel.Window();
    if (from && window && from->IsCurrent() && from->Form() &&
        from->Form()->txtInput()->text().isEmpty())
        window->Activate();
}

void Channels::Delete() {
    Clear();
    m_parent = nullptr;
}

void Channels::SetParent(IRCConnection *parent) {
    if (!m_parent)
        m_parent = parent;
}
