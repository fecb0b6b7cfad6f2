#include "channel/Channels.h"

#include "platform/Ascii.h"
#include "windows/Child.h"

#include <QLineEdit>
#include <algorithm>

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

namespace {
// upper(text) == upper, for a text of ASCII characters, without building upper(text).
bool asciiUpperEquals(QStringView text, QStringView upper) {
    if (text.size() != upper.size())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - (u'a' - u'A'));
        if (c != upper[i].unicode())
            return false;
    }
    return true;
}
} // namespace

bool Channels::SameName(QStringView a, QStringView b) {
    return a.toString().toUpper() == b.toString().toUpper();
}

// Names are compared in upper case; only letters change case, so [ never matches {.
std::shared_ptr<Channel> Channels::Item(QStringView Name) const {
    if (Ascii::IsAscii(Name)) {
        for (const auto &channel : m_items)
            if (asciiUpperEquals(Name, channel->UpperName()))
                return channel;
        return nullptr;
    }
    const QString wanted = Name.toString().toUpper();
    for (const auto &channel : m_items)
        if (channel->UpperName() == wanted)
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

void Channels::MarkAllNotJoined(const QString &Why) {
    for (const auto &channel : m_items.Snapshot())
        if (channel->Joined())
            channel->MarkNotJoined(Why);
}

void Channels::NoteJoinRequest(QStringView Names, const std::shared_ptr<Child> &From) {
    m_requested = Names.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    m_requestedFrom = From;
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
