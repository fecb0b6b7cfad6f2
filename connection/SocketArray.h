#pragma once

#include "platform/SocketElement.h"

#include <QObject>
#include <map>
#include <memory>

// The main window's array of client sockets, indexed from 0. Element 0 exists from the start
// and never serves a connection. Every notification of every element is relayed with the
// element's index in front; each subscriber keeps those of its own element.
class SocketArray : public QObject {
    Q_OBJECT
public:
    explicit SocketArray(QObject *parent = nullptr);
    ~SocketArray() override;

    // Highest index in use (0 while only element 0 exists).
    qint16 UBound() const;
    bool Exists(qint16 index) const;
    // Creates a fresh, closed element at index; fails when one exists there.
    void Load(qint16 index);
    // Destroys the element at index; fails when there is none.
    void Unload(qint16 index);
    SocketElement &Element(qint16 index) const;
    SocketElement &operator[](qint16 index) const { return Element(index); }

signals:
    void WSClose(qint16 &Index);
    void WSConnect(qint16 &Index);
    void WSConnectionRequest(qint16 &Index, qint32 requestID);
    void WSDataArrival(qint16 &Index, qint32 bytesTotal);
    void WSError(qint16 &Index, qint16 Number, QString &Description, qint32 Scode,
                 const QString &Source, const QString &HelpFile, qint32 HelpContext,
                 bool &CancelDisplay);
    void WSSendComplete(qint16 &Index);
    void WSSendProgress(qint16 &Index, qint32 bytesSent, qint32 bytesRemaining);

private:
    void relay(qint16 index, SocketElement *element);

    std::map<qint16, std::unique_ptr<SocketElement>> m_elements;
};
