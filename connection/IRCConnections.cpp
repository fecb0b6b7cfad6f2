#include "connection/IRCConnections.h"

std::shared_ptr<IRCConnection> IRCConnections::Add() {
    auto connection = std::make_shared<IRCConnection>();
    connection->SetIndex(Count() + 1);
    connection->SetParent(this);
    Append(connection);
    return connection;
}

void IRCConnections::Delete() {
    Clear();
    m_parent = nullptr;
}

void IRCConnections::SetParent(Application *parent) {
    if (!m_parent)
        m_parent = parent;
}

void IRCConnections::RaiseGetMessageRaw(qint32 Connection, const QString &Message,
                                        bool &Processed) {
    emit GetMessageRaw(Connection, Message, Processed);
}

void IRCConnections::RaiseGetMessageTypeError(qint32 Connection, const QString &Description) {
    emit GetMessageTypeError(Connection, Description);
}

void IRCConnections::RaiseSMsgNotProcessed(qint32 Connection, const QString &Message) {
    emit SMsgNotProcessed(Connection, Message);
}
