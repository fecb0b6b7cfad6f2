#include "channel/Channel.h"

#include "app/Application.h"
#include "app/modMain.h"
#include "channel/Channels.h"
#include "connection/IRCConnection.h"
#include "connection/IRCConnections.h"
#include "platform/Utilities.h"
#include "text/IrcMentions.h"
#include "windows/Child.h"
#include "windows/Childs.h"

#include <algorithm>

Channel::Channel() : m_instanceKey(Utilities::NewInstanceKey()) {}

Channel::~Channel() {
    if (pobjWindow)
        pobjWindow->disconnect(this);
}

IRCConnection *Channel::connection() const {
    return m_parent ? m_parent->Parent() : nullptr;
}

void Channel::send(const QString &line) const {
    if (IRCConnection *owner = connection())
        owner->SendMessage(line);
}

void Channel::statusLine(const QString &text) const {
    IRCConnection *owner = connection();
    if (owner && owner->Parent() && owner->Parent()->Parent())
        owner->Parent()->Parent()->Echo(1, text);
}

void Channel::SetParent(Channels *parent) {
    if (m_parent)
        return;
    m_parent = parent;
    Application *app = connection()->Parent()->Parent();
    // In the background: the user may be typing in another window (Channels::Confirmed).
    pobjWindow = app->Childs()->Add(false, contents());
    connect(pobjWindow.get(), &Child::CloseWindowEvent, this, &Channel::pobjWindow_CloseWindow);
    pobjWindow->SetDefaultCommand(QStringLiteral("MSG ") + m_name);
}

void Channel::SetName(const QString &name) {
    m_name = name;
    if (pobjWindow)
        pobjWindow->SetDefaultCommand(QStringLiteral("MSG ") + m_name);
    updateCaption();
}

// The window's caption names the channel, and says in words when it is not joined.
QString Channel::contents() const {
    return m_joined ? m_name : m_name + QStringLiteral(" (not joined)");
}

void Channel::updateCaption() const {
    if (pobjWindow)
        pobjWindow->SetContents(contents());
}

// However we leave a channel (our PART, the server's PART of us, a KICK, its window closing, the
// end of the connection), nothing still waiting to be sent to it goes any more.
void Channel::left() const {
    if (IRCConnection *owner = connection())
        owner->DropWaiting(m_name);
}

void Channel::SetJoined(bool joined) {
    m_joined = joined;
    m_partRequested = false;
    if (!joined)
        left();
    updateCaption();
    statusLine((joined ? QStringLiteral("Joined Channel ") : QStringLiteral("Left Channel ")) +
               m_name);
}

void Channel::MarkNotJoined(const QString &Why) {
    SetJoined(false);
    if (pobjWindow)
        pobjWindow->Echo(Why);
}

QString Channel::removedLine(QString text, QStringView Reason) const {
    if (!Reason.isEmpty())
        text.append(QLatin1String(" (")).append(Reason).append(QLatin1Char(')'));
    return text;
}

void Channel::Kicked(QStringView By, QStringView Reason) {
    const QString text = removedLine(QStringLiteral("Kicked from Channel ") + m_name +
                                         QStringLiteral(" by ") + By.toString(),
                                     Reason);
    statusLine(text);
    MarkNotJoined(text);
}

void Channel::RemovedByServer(QStringView Reason) {
    MarkNotJoined(removedLine(QStringLiteral("Removed from Channel ") + m_name +
                                  QStringLiteral(" by the server"),
                              Reason));
}

void Channel::Join() {
    if (!m_joined)
        send(QStringLiteral("JOIN :") + m_name);
}

void Channel::Part() {
    if (m_joined)
        send(QStringLiteral("PART :") + m_name);
}

void Channel::SendNotice(const QString &Notice) {
    send(QStringLiteral("NOTICE ") + m_name + QStringLiteral(" :") + Notice);
}

void Channel::SendPrivMsg(const QString &PrivMsg) {
    send(QStringLiteral("PRIVMSG ") + m_name + QStringLiteral(" :") + PrivMsg);
}

namespace {
void put(QChar *&out, QLatin1String text) {
    for (const char c : text)
        *out++ = QLatin1Char(c);
}

void put(QChar *&out, QStringView text) {
    std::copy(text.begin(), text.end(), out);
    out += text.size();
}
} // namespace

// "<nick> text", "-nick- text" or "* nick text", built in the channel's own buffer: this runs for
// every channel line, and the buffer keeps its room from one line to the next.
const QString &Channel::framed(QLatin1String open, QStringView nick, QLatin1String close,
                               QStringView text) {
    m_shown.resize(open.size() + nick.size() + close.size() + text.size());
    QChar *out = m_shown.data();
    put(out, open);
    put(out, nick);
    put(out, close);
    put(out, text);
    return m_shown;
}

// The text of a CTCP ACTION (what /me sends: "\x01ACTION waves\x01"), or a null view when the
// message is something else.
static QStringView actionText(QStringView message) {
    static const QLatin1String Action("\x01"
                                      "ACTION");
    if (message.isEmpty() || message.front() != u'\x01' || !message.startsWith(Action))
        return {};
    QStringView rest = message.mid(Action.size());
    if (!rest.isEmpty() && rest.front() != u' ' && rest.front() != u'\x01')
        return {}; // another request whose name only begins with ACTION
    if (rest.startsWith(u' '))
        rest = rest.mid(1);
    if (rest.endsWith(u'\x01'))
        rest.chop(1);
    return rest.isNull() ? QStringView(u"") : rest;
}

// Shows a line in the window, highlighted when the message names our own nick.
void Channel::show(const QString &line, QStringView message) {
    if (!pobjWindow)
        return;
    const IRCConnection *owner = connection();
    if (owner && IrcFormat::mentions(message, owner->Nick()))
        pobjWindow->EchoMention(line);
    else
        pobjWindow->Echo(line);
}

void Channel::GetNotice(QStringView Source, QStringView Notice) {
    show(framed(QLatin1String("-"), modMain::NickFromPrefix(Source), QLatin1String("- "), Notice),
         Notice);
}

void Channel::GetPrivMsg(QStringView Source, QStringView PrivMsg) {
    const QStringView nick = modMain::NickFromPrefix(Source);
    const QStringView action = actionText(PrivMsg);
    if (!action.isNull())
        show(framed(QLatin1String("* "), nick, QLatin1String(" "), action), action);
    else
        show(framed(QLatin1String("<"), nick, QLatin1String("> "), PrivMsg), PrivMsg);
}

// Leaves the channel if joined (one PART line at most), deletes its window and takes the
// channel out of its collection. The window's close notification that comes back from inside
// this deletion is ignored.
void Channel::Delete() {
    // The collection may hold the last reference: stay alive until the very end of the call.
    auto self = shared_from_this();
    if (m_parent && !m_deleting) {
        m_deleting = true;
        struct Reset {
            bool &flag;
            ~Reset() { flag = false; }
        } reset{m_deleting};
        if (m_joined)
            Part();
        left();
        if (std::shared_ptr<Child> window = pobjWindow) {
            window->Delete(false);
            window->disconnect(this);
        }
        pobjWindow.reset();
        if (m_parent) {
            m_parent->RemoveAt(m_index);
            m_parent = nullptr;
        }
    }
    m_index = -1;
}

void Channel::pobjWindow_CloseWindow(bool) {
    if (!m_deleting)
        Delete();
}
