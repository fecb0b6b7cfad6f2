#include "connection/IRCConnection.h"

#include "app/Answers.h"
#include "app/Application.h"
#include "channel/Channel.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/LineDecoder.h"
#include "connection/SocketArray.h"
#include "platform/EscapedErrors.h"
#include "platform/Utilities.h"
#include "windows/Child.h"
#include "windows/Childs.h"
#include "windows/frmMain.h"

#include <QElapsedTimer>

IRCConnection::IRCConnection() {
    m_instanceKey = Utilities::NewInstanceKey();
    m_index = -1;
    m_channels = std::make_unique<::Channels>();
    m_channels->SetParent(this);
    connect(&m_pacer, &SendPacer::Release, this, &IRCConnection::sendPaced);
    connect(&m_pacer, &SendPacer::StartedWaiting, this, &IRCConnection::reportWaiting);
    connect(&m_pacer, &SendPacer::Shown, this, &IRCConnection::showPasted);
    connect(&m_pacer, &SendPacer::Dropped, this,
            [this](const QString &target, qsizetype count) { reportNotSent(count, target); });
}

IRCConnection::~IRCConnection() {
    try {
        releaseResources();
    } catch (...) {
    }
    m_parent = nullptr;
}

void IRCConnection::SetParent(IRCConnections *parent) {
    if (m_parent)
        return;
    m_parent = parent;
    SocketArray &array = parent->Parent()->MainWindow()->wsConnection();
    pobjConnectionEvents = &array;
    connect(&array, &SocketArray::WSClose, this, &IRCConnection::pobjConnectionEvents_WSClose);
    connect(&array, &SocketArray::WSConnect, this, &IRCConnection::pobjConnectionEvents_WSConnect);
    connect(&array, &SocketArray::WSDataArrival, this,
            &IRCConnection::pobjConnectionEvents_WSDataArrival);
    connect(&array, &SocketArray::WSError, this, &IRCConnection::pobjConnectionEvents_WSError);

    // The lowest free element from 1 up; element 0 is never taken.
    const qint16 upper = array.UBound();
    qint16 index = static_cast<qint16>(upper + 1);
    for (qint16 i = 1; i <= upper; ++i) {
        if (!array.Exists(i)) {
            index = i;
            break;
        }
    }
    array.Load(index);
    m_socketIndex = index;
}

SocketArray *IRCConnection::sockets() const {
    return pobjConnectionEvents.data();
}

SocketElement *IRCConnection::socket() const {
    SocketArray *array = sockets();
    if (!array || m_socketIndex < 0 || !array->Exists(m_socketIndex))
        return nullptr;
    return &array->Element(m_socketIndex);
}

// The connection's own reports answer the user wherever they are.
void IRCConnection::statusLine(const QString &text) const {
    if (m_parent && m_parent->Parent())
        m_parent->Parent()->EchoAnswer(text);
}

bool IRCConnection::Asked() const {
    return m_asked.isValid() && m_asked.elapsed() < Answers::AskedMs;
}

QString IRCConnection::serverAndPort() const {
    return QStringLiteral("Server ") + m_server + QStringLiteral(", Port ") +
           QString::number(m_port);
}

void IRCConnection::Connect(const QString &Server, quint16 Port, bool Tls) {
    // A session still open ends first, as a DISCONNECT ends it: nothing of it reaches the new
    // server, and nothing typed is taken as sent until the new server has answered.
    if (m_connected)
        Disconnect();
    const QString ended = QStringLiteral("Disconnected from ") + serverAndPort();
    m_server = Server;
    m_port = Port;
    m_tls = Tls;
    SocketElement *element = socket();
    try {
        if (element)
            element->Close();
    } catch (...) {
    }
    // A line the old server left unfinished must not become the start of the new server's
    // first line; the old server's channels and our nick there are gone with it, and so are
    // the messages still waiting for it.
    dropWaiting();
    endStream();
    m_nick.clear();
    if (m_channels)
        m_channels->MarkAllNotJoined(ended);
    if (element)
        element->Connect(m_server, m_port, m_tls);
}

bool IRCConnection::Reconnect() {
    endStream();
    if (SocketElement *element = socket())
        element->Connect();
    return false;
}

void IRCConnection::Disconnect() {
    SocketElement *element = socket();
    if (element)
        element->Close();
    ended(QStringLiteral("Disconnected from ") + serverAndPort());
}

// The connection is over: nothing more of its stream is read, the status window says so (and
// why, when the socket knows), what still waits to be sent is dropped, and every joined channel
// is left with the same line in its window.
void IRCConnection::ended(const QString &line, const QString &reason) {
    endStream();
    m_connected = false;
    statusLine(line);
    if (!reason.isEmpty())
        statusLine(QStringLiteral("Server(%1): ").arg(m_index) + reason);
    dropWaiting();
    if (m_channels)
        m_channels->MarkAllNotJoined(line);
}

QByteArray IRCConnection::WireLine(const QString &Message) {
    QString line = Message;
    for (QChar &c : line)
        if (c == QChar(13) || c == QChar(10) || c == QChar(0))
            c = QLatin1Char(' ');
    return Utilities::AddSuffix(line, QStringLiteral("\r\n")).toUtf8();
}

QByteArray IRCConnection::WireBytes(QByteArray Line) {
    for (char &c : Line)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return Line.append("\r\n");
}

bool IRCConnection::live() const {
    SocketElement *element = socket();
    return element && element->SocketState() == SocketElement::Connected_;
}

void IRCConnection::SendMessage(const QString &Message) {
    if (live())
        m_pacer.Send(WireLine(Message));
}

void IRCConnection::SendLines(const QString &Verb, const QString &Target, const QString &Text,
                              const QString &WindowKey) {
    if (live())
        m_pacer.Send(std::make_unique<PastedLines>(Verb, Target, Text, WindowKey));
}

void IRCConnection::showPasted(const QString &windowKey, const QString &line) {
    if (!m_parent || !m_parent->Parent() || !m_parent->Parent()->Childs())
        return;
    if (const std::shared_ptr<Child> window = m_parent->Parent()->Childs()->Find(windowKey))
        window->EchoEntered(line);
}

// A line whose turn has come. When the connection ended while it waited, it and the rest are
// dropped, with one line. Every line that goes (typed, pasted or sent by a window) is noted
// there: a PART among them is one we asked for.
void IRCConnection::sendPaced(const QByteArray &wire) {
    if (!live())
        return dropWaiting(1);
    if (m_channels)
        m_channels->NoteSent(wire);
    sendWire(wire);
}

// In the window of the channel the first waiting message goes to, else in the status window.
void IRCConnection::reportWaiting() {
    const qsizetype count = m_pacer.Waiting();
    const QString line = QStringLiteral("Server(%1): %2 %3 waiting to be sent, one every %4 s")
                             .arg(m_index)
                             .arg(count)
                             .arg(count == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
                             .arg(m_pacer.IntervalMs() / 1000.0);
    qint32 window = 1;
    if (m_channels)
        if (const std::shared_ptr<Channel> channel = m_channels->Item(m_pacer.FirstTarget()))
            if (channel->Window())
                window = channel->Window()->Index();
    if (m_parent && m_parent->Parent() && m_parent->Parent()->Childs())
        m_parent->Parent()->Echo(window, line);
}

// At exit the windows go first: then there is no one left to tell.
void IRCConnection::dropWaiting(qsizetype alsoDropped) {
    reportNotSent(m_pacer.Reset() + alsoDropped);
}

void IRCConnection::DropWaiting(const QString &Target) {
    m_pacer.Drop(Target);
}

qsizetype IRCConnection::FlushWaiting() {
    const qsizetype count = m_pacer.DropAll();
    reportNotSent(count);
    return count;
}

void IRCConnection::reportNotSent(qsizetype count, const QString &target) {
    if (count > 0 && m_parent && m_parent->Parent() && m_parent->Parent()->Childs())
        statusLine(QStringLiteral("Server(%1): %2 waiting %3%4 not sent")
                       .arg(m_index)
                       .arg(count)
                       .arg(count == 1 ? QStringLiteral("line") : QStringLiteral("lines"))
                       .arg(target.isEmpty() ? QString() : QStringLiteral(" for ") + target));
}

void IRCConnection::sendWire(const QByteArray &wire) {
    SocketElement *element = socket();
    if (!element || element->SocketState() != SocketElement::Connected_)
        return;
    if (element->SendData(wire))
        return;
    // Too much waited unsent: the element has cut the connection and dropped what waited.
    ended(QStringLiteral("Server(%1): the server stopped reading; connection closed").arg(m_index));
}

void IRCConnection::pobjConnectionEvents_WSConnect(qint16 &Index) {
    if (Index != m_socketIndex)
        return;
    m_connected = true;
    statusLine(QStringLiteral("Connected to ") + serverAndPort());
}

void IRCConnection::pobjConnectionEvents_WSClose(qint16 &Index) {
    if (Index != m_socketIndex)
        return;
    auto self = shared_from_this();
    // Lines that came with the close are shown before the close itself: nothing is lost.
    processLines(-1);
    ended(QStringLiteral("Disconnected from ") + serverAndPort());
}

// The failed line is followed by the reason in plain words (Description), when there is one.
void IRCConnection::pobjConnectionEvents_WSError(qint16 &Index, qint16, QString &Description,
                                                 qint32, const QString &, const QString &, qint32,
                                                 bool &CancelDisplay) {
    if (Index != m_socketIndex)
        return;
    ended(QStringLiteral("Connection to ") + serverAndPort() + QStringLiteral(" failed"),
          Description);
    CancelDisplay = true;
}

void IRCConnection::pobjConnectionEvents_WSDataArrival(qint16 &Index, qint32) {
    if (Index != m_socketIndex)
        return;
    SocketElement *element = socket();
    if (!element || element->SocketState() != SocketElement::Connected_) {
        statusLine(QStringLiteral("lost connection!"));
        return;
    }
    scheduleSlice();
}

// Received data is taken in a turn of its own, one slice per turn, so that a socket that reports
// data in the same turn as a queued slice does not double the work of that turn.
void IRCConnection::scheduleSlice() {
    if (m_slicePending)
        return;
    m_slicePending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_slicePending = false;
            // After our own close or a new Connect the old stream's rest is not wanted.
            Guarded([this] {
                SocketElement *element = socket();
                if (m_parent && element && element->SocketState() == SocketElement::Connected_)
                    receive();
            });
        },
        Qt::QueuedConnection);
}

// One slice of the received data: framing, decoding and processing for about SliceNs, then the
// rest goes on in a later event-loop turn, so that input, paint and the window manager get
// through between slices however fast the server talks. Bytes are taken from the socket only
// as lines are needed, in the order they came.
void IRCConnection::receive() {
    if (m_processing)
        return; // re-entered from a nested event loop: the running slice goes on
    auto self = shared_from_this();
    m_processing = true;
    bool more = false;
    try {
        more = processLines(SliceNs);
    } catch (...) {
        m_processing = false;
        throw;
    }
    m_processing = false;
    if (more && m_parent)
        scheduleSlice();
}

void IRCConnection::FeedReceived(QByteArrayView bytes) {
    auto self = shared_from_this();
    m_buffer.Append(bytes);
    processLines(-1);
}

void IRCConnection::endStream() {
    ++m_stream;
    m_buffer.Clear();
}

// Every complete line is offered to GetMessageRaw, then processed unless a subscriber took it;
// when the buffer holds no complete line, the next bytes are read from the socket. Returns true
// when it stopped because budgetNs (negative: no limit) ran out and lines may be left.
// A handler may delete, close or restart this connection, or run a loop of its own over the
// buffer: this loop stops at once then, without touching the line it held, and no later line of
// the stream it was reading is processed.
bool IRCConnection::processLines(qint64 budgetNs) {
    QElapsedTimer clock;
    clock.start();
    const quint64 stream = ++m_stream;
    const auto gone = [this, stream] {
        return !m_parent || m_stream != stream;
    };
    QByteArrayView bytes;
    for (int lines = 1;; ++lines) {
        const qint32 channelsBefore = channelCount();
        const LineFramer::Result result = m_buffer.Next(bytes);
        if (result == LineFramer::Result::NeedMore) {
            SocketElement *element = socket();
            if (!element || element->BytesAvailable() <= 0)
                return false;
            char *room = m_buffer.Reserve(ReadChunkBytes);
            m_buffer.Commit(element->Read(room, ReadChunkBytes));
            continue;
        }
        if (result == LineFramer::Result::DroppedLine) {
            statusLine(QStringLiteral("Server(%1): line longer than %2 bytes, dropped")
                           .arg(m_index)
                           .arg(LineFramer::MaxLineBytes));
        } else {
            const QString line = LineDecoder::Decode(bytes);
            bool processed = false;
            if (m_parent)
                m_parent->RaiseGetMessageRaw(m_index, line, processed);
            if (!processed && !gone())
                ProcessServerMessage(line, bytes);
        }
        if (gone())
            return false;
        const bool costly = channelCount() != channelsBefore;
        if (budgetNs >= 0 && (costly || lines % LinesPerClockCheck == 0) &&
            clock.nsecsElapsed() > budgetNs)
            return true;
    }
}

qint32 IRCConnection::channelCount() const {
    return m_channels ? m_channels->Count() : 0;
}

void IRCConnection::releaseResources() {
    endStream();
    if (m_channels) {
        m_channels->Delete();
        m_channels.reset();
    }
    SocketArray *array = sockets();
    if (array)
        disconnect(array, nullptr, this, nullptr);
    pobjConnectionEvents = nullptr;
    if (array && m_socketIndex >= 0 && array->Exists(m_socketIndex)) {
        try {
            array->Element(m_socketIndex).Close();
        } catch (...) {
        }
        array->Unload(m_socketIndex);
    }
    m_socketIndex = -1;
}

void IRCConnection::Delete() {
    auto self = shared_from_this();
    dropWaiting();
    releaseResources();
    if (m_parent)
        m_parent->RemoveAt(m_index);
    m_parent = nullptr;
    m_index = -1;
}
