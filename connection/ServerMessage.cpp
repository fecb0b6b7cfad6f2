// How a connection interprets one received line. PING and ERROR are known by how the line
// starts. Lines about channels and their members are read by the message grammar (MessageLine):
// once the server's welcome has named us, JOIN, PART and KICK change our channels only when they
// are about us; lines about other users are shown in the status window like any line no rule
// takes.

#include "app/modMain.h"
#include "channel/Channel.h"
#include "channel/Channels.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "connection/MessageLine.h"
#include "text/IrcMentions.h"

namespace {
// Whether line is word (such as "PING ") followed by a colon or nothing; rest is what follows
// the word.
bool startsWith(QStringView line, QLatin1String word, QStringView &rest) {
    // Most lines start with a colon: one look at the first character settles those.
    if (line.isEmpty() || line.front() != QLatin1Char(word.front()) || !line.startsWith(word) ||
        (line.size() > word.size() && line[word.size()] != u':'))
        return false;
    rest = line.mid(word.size());
    return true;
}

bool join(::Channels &channels, QStringView name) {
    if (name.isEmpty()) // not a channel: the line is shown as received
        return false;
    std::shared_ptr<Channel> channel = channels.Item(name);
    if (channel && channel->Joined())
        return false;
    // A channel we were in before a kick or the end of the connection: its window comes back
    // to life, with its text.
    if (!channel)
        channel = channels.Add(name.toString());
    channel->SetJoined(true);
    channels.Confirmed(*channel);
    return true;
}

// Only a PART we asked for closes the window; one we did not ask for leaves it as a kick does.
bool part(::Channels &channels, QStringView name, QStringView reason) {
    const std::shared_ptr<Channel> channel = channels.Item(name);
    if (!channel)
        return false;
    if (!channel->PartRequested()) {
        if (!channel->Joined())
            return false;
        channel->RemovedByServer(reason);
        return true;
    }
    // No longer joined, so its deletion sends no PART back.
    channel->SetJoined(false);
    channel->Delete();
    return true;
}

// The channel keeps its window and its text; a JOIN brings it back.
bool kick(::Channels &channels, QStringView name, QStringView by, QStringView reason) {
    const std::shared_ptr<Channel> channel = channels.Item(name);
    if (!channel || !channel->Joined())
        return false;
    channel->Kicked(by, reason);
    return true;
}

// A message or notice for a channel we hold: the text is the whole trailing parameter.
bool deliver(::Channels &channels, const MessageLine &line, bool notice) {
    if (line.ParamCount() < 2 || !line.HasTrailing())
        return false;
    const std::shared_ptr<Channel> channel = channels.Item(line.Param(0));
    if (!channel)
        return false;
    const QStringView text = line.Param(line.ParamCount() - 1);
    if (notice)
        channel->GetNotice(line.Prefix(), text);
    else
        channel->GetPrivMsg(line.Prefix(), text);
    return true;
}
} // namespace

bool IRCConnection::ProcessServerMessage(const QString &Message, QByteArrayView Received) {
    auto self = shared_from_this();
    bool processed = false;
    QStringView rest;
    if (startsWith(Message, QLatin1String("PING "), rest)) {
        // The token goes back as the server sent it, in whatever encoding.
        if (Received.startsWith("PING "))
            sendWire(WireBytes(QByteArray("PONG ").append(Received.sliced(5))));
        else
            SendMessage(QStringLiteral("PONG ").append(rest));
        processed = true;
    } else if (startsWith(Message, QLatin1String("ERROR "), rest)) {
        if (m_parent)
            m_parent->RaiseGetMessageTypeError(m_index, rest.mid(1).toString());
        processed = true;
    } else if (m_channels) {
        processed = processMessageLine(MessageLine::Parse(Message));
    }

    if (!processed && m_parent)
        m_parent->RaiseSMsgNotProcessed(m_index, Message);
    return processed;
}

// Returns whether the line was processed. The welcome and nick changes only teach us our nick:
// they are still shown as received. A nick longer than any server allows is not taken as ours.
bool IRCConnection::processMessageLine(const MessageLine &line) {
    if (!line.Valid())
        return false;
    const QStringView command = line.Command();
    if (command == u"001") {
        if (line.ParamCount() >= 1 && IrcFormat::fitsNickLimit(line.Param(0)))
            m_nick = line.Param(0).toString();
        return false;
    }
    if (!line.HasPrefix())
        return false;
    if (command == u"PRIVMSG")
        return deliver(*m_channels, line, false);
    if (command == u"NOTICE")
        return deliver(*m_channels, line, true);

    const QStringView sender = modMain::NickFromPrefix(line.Prefix());
    // Before the welcome we cannot tell: JOIN and PART then count as ours, whoever they name.
    const bool fromUs = m_nick.isEmpty() || Channels::SameName(sender, m_nick);
    if (command == u"JOIN")
        return fromUs && line.ParamCount() >= 1 && join(*m_channels, line.Param(0));
    if (command == u"PART")
        return fromUs && line.ParamCount() >= 1 && part(*m_channels, line.Param(0), line.Param(1));
    if (command == u"KICK") {
        const bool kickedUs = !m_nick.isEmpty() && Channels::SameName(line.Param(1), m_nick);
        return line.ParamCount() >= 2 && kickedUs &&
               kick(*m_channels, line.Param(0), sender, line.Param(2));
    }
    if (command == u"NICK" && !m_nick.isEmpty() && fromUs && line.ParamCount() >= 1 &&
        IrcFormat::fitsNickLimit(line.Param(0)))
        m_nick = line.Param(0).toString();
    return false;
}
