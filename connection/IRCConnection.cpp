#include "connection/IRCConnection.h"

#include "app/Application.h"
#include "channel/Channels.h"
#include "connection/IRCConnections.h"
#include "connection/LineDecoder.h"
#include "connection/SocketArray.h"
#include "platform/Utilities.h"
#include "windows/frmMain.h"

IRCConnection::IRCConnection() {
    m_instanceKey = Utilities::NewInstanceKey();
    m_index = -1;
    m_channels = std::make_unique<::Channels>();
    m_channels->SetParent(this);
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

void IRCConnection::statusLine(const QString &text) const {
    if (m_parent && m_parent->Parent())
        m_parent->Parent()->Echo(1, text);
}

QString IRCConnection::serverAndPort() const {
    return QStringLiteral("Server ") + m_server + QStringLiteral(", Port ") +
           QString::number(m_port);
}

void IRCConnection::Connect(const QString &Server, quint16 Port, bool Tls) {
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
    // first line.
    m_buffer.Clear();
    if (element)
        element->Connect(m_server, m_port, m_tls);
}

bool IRCConnection::Reconnect() {
    m_buffer.Clear();
    if (SocketElement *element = socket())
        element->Connect();
    return false;
}

void IRCConnection::Disconnect() {
    SocketElement *element = socket();
    if (element)
        element->Close();
    m_connected = false;
    statusLine(QStringLiteral("Disconnected from ") + serverAndPort());
}

QByteArray IRCConnection::WireLine(const QString &Message) {
    QString line = Message;
    for (QChar &c : line)
        if (c == QChar(13) || c == QChar(10) || c == QChar(0))
            c = QLatin1Char(' ');
    return Utilities::AddSuffix(line, QStringLiteral("\r\n")).toUtf8();
}

void IRCConnection::SendMessage(const QString &Message) {
    SocketElement *element = socket();
    if (!element || element->SocketState() != SocketElement::Connected_)
        return;
    if (element->SendData(WireLine(Message)))
        return;
    // Too much waited unsent: the element has cut the connection and dropped what waited.
    m_connected = false;
    statusLine(
        QStringLiteral("Server(%1): the server stopped reading; connection closed").arg(m_index));
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
    if (SocketElement *element = socket(); element && element->BytesAvailable() > 0)
        receive();
    m_connected = false;
    statusLine(QStringLiteral("Disconnected from ") + serverAndPort());
}

// The failed line is followed by the reason in plain words (Description), when there is one.
void IRCConnection::pobjConnectionEvents_WSError(qint16 &Index, qint16, QString &Description,
                                                 qint32, const QString &, const QString &, qint32,
                                                 bool &CancelDisplay) {
    if (Index != m_socketIndex)
        return;
    m_connected = false;
    statusLine(QStringLiteral("Connection to ") + serverAndPort() + QStringLiteral(" failed"));
    if (!Description.isEmpty())
        statusLine(QStringLiteral("Server(%1): ").arg(m_index) + Description);
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
    auto self = shared_from_this();
    receive();
}

void IRCConnection::receive() {
    SocketElement *element = socket();
    if (!element)
        return;
    FeedReceived(element->GetData());
}

void IRCConnection::FeedReceived(QByteArrayView bytes) {
    auto self = shared_from_this();
    m_buffer.Append(bytes);
    processLines();
}

// Every complete line is offered to GetMessageRaw, then processed unless a subscriber took it.
// A line handler may delete this connection: the loop stops as soon as it is out of its
// collection.
void IRCConnection::processLines() {
    QByteArrayView bytes;
    for (;;) {
        const LineFramer::Result result = m_buffer.Next(bytes);
        if (result == LineFramer::Result::NeedMore)
            return;
        if (result == LineFramer::Result::DroppedLine) {
            statusLine(QStringLiteral("Server(%1): line longer than %2 bytes, dropped")
                           .arg(m_index)
                           .arg(LineFramer::MaxLineBytes));
            continue;
        }
        const QString line = LineDecoder::Decode(bytes);
        bool processed = false;
        if (m_parent)
            m_parent->RaiseGetMessageRaw(m_index, line, processed);
        if (!processed)
            ProcessServerMessage(line);
        if (!m_parent)
            return;
    }
}

void IRCConnection::releaseResources() {
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
    releaseResources();
    if (m_parent)
        m_parent->RemoveAt(m_index);
    m_parent = nullptr;
    m_index = -1;
}
