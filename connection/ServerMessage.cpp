// How a connection interprets one received line. The parse follows no general grammar: the line
// is split at every ":", the second of those items at every blank, and the rules below are all.

#include "channel/Channel.h"
#include "channel/Channels.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "platform/TokenList.h"

namespace {
enum class Delivery { PrivMsg, Notice };

// ":source PRIVMSG target :text" (or NOTICE) for a channel we hold: the text after the second
// colon, colons inside it kept.
bool deliver(::Channels &channels, TokenList &colonItems, QStringView source, QStringView target,
             Delivery kind) {
    const std::shared_ptr<Channel> channel = channels.Item(target);
    if (!channel)
        return false;
    colonItems.Remove(2);
    colonItems.Remove(1);
    QString joined;
    const QStringView text = colonItems.TextView(joined);
    if (kind == Delivery::PrivMsg)
        channel->GetPrivMsg(source, text);
    else
        channel->GetNotice(source, text);
    return true;
}

bool join(::Channels &channels, QStringView name) {
    const std::shared_ptr<Channel> channel = channels.Item(name);
    if (!channel) {
        channels.Add(name.toString())->SetJoined(true);
        return true;
    }
    if (channel->Joined())
        return false;
    channel->Join();
    return true;
}

bool part(::Channels &channels, QStringView name) {
    const std::shared_ptr<Channel> channel = channels.Item(name);
    if (!channel)
        return false;
    // No longer joined, so its deletion sends no PART back.
    channel->SetJoined(false);
    channel->Delete();
    return true;
}
} // namespace

bool IRCConnection::ProcessServerMessage(const QString &Message) {
    auto self = shared_from_this();
    bool processed = false;

    TokenList colonItems;
    colonItems.SetDelimiter(QStringLiteral(":"));
    colonItems.SetQuotes(QString(), QString());
    colonItems.SetText(Message);

    const QStringView first = colonItems.ItemView(1);
    if (colonItems.Count() < 1) {
        // nothing to process
    } else if (first == QLatin1String("PING ")) {
        colonItems.SetItem(1, QStringLiteral("PONG "));
        SendMessage(colonItems.Text());
        processed = true;
    } else if (first == QLatin1String("ERROR ")) {
        colonItems.Remove(1);
        if (m_parent)
            m_parent->RaiseGetMessageTypeError(m_index, colonItems.Text());
        processed = true;
    } else if (first.isEmpty() && colonItems.Count() >= 3 && m_channels) {
        TokenList words;
        words.SetDelimiter(QStringLiteral(" "));
        words.SetQuotes(QString(), QString());
        qsizetype from = 0, length = 0;
        colonItems.ItemRange(2, from, length); // item 2 is never replaced here
        words.SetText(colonItems.SourceText(), from, length);
        if (words.Count() >= 3) {
            const QStringView source = words.ItemView(1);
            const QStringView command = words.ItemView(2);
            const QStringView target = words.ItemView(3);
            if (command == QLatin1String("JOIN"))
                processed = join(*m_channels, colonItems.ItemView(3));
            else if (command == QLatin1String("PART"))
                processed = part(*m_channels, colonItems.ItemView(3));
            else if (command == QLatin1String("PRIVMSG"))
                processed = deliver(*m_channels, colonItems, source, target, Delivery::PrivMsg);
            else if (command == QLatin1String("NOTICE"))
                processed = deliver(*m_channels, colonItems, source, target, Delivery::Notice);
        }
    }

    if (!processed && m_parent)
        m_parent->RaiseSMsgNotProcessed(m_index, Message);
    return processed;
}
