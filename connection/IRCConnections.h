#pragma once

#include "connection/IRCConnection.h"
#include "platform/Collection.h"

#include <QObject>

class Application;

// The application's server connections in order of creation. It alone creates connections,
// keeps each one's Index equal to its position, and passes up what they report about received
// lines, each with the connection's Index.
class IRCConnections : public QObject, public Collection<IRCConnection> {
    Q_OBJECT
public:
    std::shared_ptr<IRCConnection> Add();
    using Collection::Item;
    std::shared_ptr<IRCConnection> Item(const QString &Key) const { return m_items.ByKey(Key); }
    Application *Parent() const { return m_parent; }

    // For the application object.
    void Delete();
    void SetParent(Application *parent);
    // For the connections.
    void RaiseGetMessageRaw(qint32 Connection, const QString &Message, bool &Processed);
    void RaiseGetMessageTypeError(qint32 Connection, const QString &Description);
    void RaiseSMsgNotProcessed(qint32 Connection, const QString &Message);

signals:
    void GetMessageRaw(qint32 Connection, const QString &Message, bool &Processed);
    void GetMessageTypeError(qint32 Connection, const QString &Description);
    void SMsgNotProcessed(qint32 Connection, const QString &Message);

private:
    Application *m_parent = nullptr;
};
