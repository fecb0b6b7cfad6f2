#pragma once

#include "channel/Channel.h"
#include "platform/Collection.h"

#include <QStringList>
#include <unordered_map>

class IRCConnection;

// The channels of one connection. Looked up by name (letters compared without regard to case)
// or by position; removed by position or InstanceKey.
class Channels : public Collection<Channel> {
public:
    // A channel the server says we have joined: its window opens as joined; the caller reports
    // the join with SetJoined.
    std::shared_ptr<Channel> Add(const QString &Name);
    using Collection::Item;
    // The first channel whose name equals Name, letters compared without regard to case; none
    // when there is no such channel.
    std::shared_ptr<Channel> Item(const QString &Name) const { return Item(QStringView(Name)); }
    std::shared_ptr<Channel> Item(QStringView Name) const;
    std::shared_ptr<Channel> Join(const QString &Name);
    // The connection is gone: every joined channel is marked not joined, reports it and writes
    // Why into its window. The channels and their windows stay; a later JOIN of ours brings
    // them back.
    void MarkAllNotJoined(const QString &Why);
    // The user asked with /JOIN, typed in window From, for the channels in Names (comma
    // separated). When the server confirms one of them while From is still the current window
    // and nothing new is typed there, that channel's window comes to the front; any other
    // channel window opens in the background and leaves the focus where it is.
    void NoteJoinRequest(QStringView Names, const std::shared_ptr<Child> &From);
    // A line we sent, as it went on the wire: a PART names the channels we asked to leave
    // ("JOIN 0" leaves them all).
    void NoteSent(QByteArrayView Wire);
    // Called when the server has confirmed our JOIN of channel.
    void Confirmed(Channel &channel);
    // Whether two names (of channels, or nicks) are equal, compared a character at a time
    // without regard to its case; [ and { stay different, and so do ß and ss.
    static bool SameName(QStringView a, QStringView b);
    IRCConnection *Parent() const { return m_parent; }

    // For the connection.
    void Delete();
    void SetParent(IRCConnection *parent);
    // Called back from a channel's Delete.
    void RemoveAt(qint32 position);

private:
    std::shared_ptr<Channel> place(const QString &Name, bool Joined);
    void file(const std::shared_ptr<Channel> &channel);

    IRCConnection *m_parent = nullptr;
    QStringList m_requested;
    std::weak_ptr<Child> m_requestedFrom;
    // Every channel under the hash of its name in upper case: a lookup costs the same however
    // many channels there are, and builds no string. (QMultiHash's equal_range walks the empty
    // buckets after the last match: a cost per line in a flood.)
    std::unordered_multimap<size_t, Channel *> m_byName;
    // The channel a name lookup found last: a flood names the same channel line after line. A
    // channel added later comes after it, so it stays the first of its name until it goes.
    mutable const Channel *m_lastFound = nullptr;
};
