#include "connection/SocketArray.h"

#include "platform/EscapedErrors.h"
#include "platform/VelloqError.h"

namespace {
constexpr qint32 ElementMissing = 340;
constexpr qint32 ElementLoaded = 360;
} // namespace

SocketArray::SocketArray(QObject *parent) : QObject(parent) {
    Load(0);
}

SocketArray::~SocketArray() {
    // Elements go without a word to anyone: cut their signals before they are destroyed.
    for (auto &entry : m_elements)
        entry.second->disconnect(this);
}

qint16 SocketArray::UBound() const {
    return m_elements.empty() ? 0 : m_elements.rbegin()->first;
}

bool SocketArray::Exists(qint16 index) const {
    return m_elements.count(index) != 0;
}

void SocketArray::Load(qint16 index) {
    if (index < 0)
        throw VelloqError(ElementMissing,
                          QStringLiteral("Socket element %1 cannot exist").arg(index));
    if (Exists(index))
        throw VelloqError(ElementLoaded,
                          QStringLiteral("Socket element %1 already exists").arg(index));
    auto element = std::make_unique<SocketElement>();
    relay(index, element.get());
    m_elements.emplace(index, std::move(element));
}

void SocketArray::Unload(qint16 index) {
    auto it = m_elements.find(index);
    if (it == m_elements.end())
        throw VelloqError(ElementMissing,
                          QStringLiteral("Socket element %1 doesn't exist").arg(index));
    SocketElement *element = it->second.release();
    m_elements.erase(it);
    element->disconnect(this);
    element->Close();
    // The element may be the sender of the notification that is being handled right now.
    element->deleteLater();
}

SocketElement &SocketArray::Element(qint16 index) const {
    auto it = m_elements.find(index);
    if (it == m_elements.end())
        throw VelloqError(ElementMissing,
                          QStringLiteral("Socket element %1 doesn't exist").arg(index));
    return *it->second;
}

// Each relay is an entry point from the toolkit: nothing may escape into the event loop.
void SocketArray::relay(qint16 index, SocketElement *element) {
    connect(element, &SocketElement::Closed, this, [this, index] {
        Guarded([&] {
            qint16 i = index;
            emit WSClose(i);
        });
    });
    connect(element, &SocketElement::Connected, this, [this, index] {
        Guarded([&] {
            qint16 i = index;
            emit WSConnect(i);
        });
    });
    connect(element, &SocketElement::DataArrival, this, [this, index](qint32 bytesTotal) {
        Guarded([&] {
            qint16 i = index;
            emit WSDataArrival(i, bytesTotal);
        });
    });
    connect(element, &SocketElement::Error, this,
            [this, index](qint16 number, const QString &description) {
                Guarded([&] {
                    qint16 i = index;
                    QString text = description;
                    bool cancelDisplay = false;
                    emit WSError(i, number, text, 0, QStringLiteral("wsConnection"), QString(), 0,
                                 cancelDisplay);
                    if (!cancelDisplay)
                        EscapedErrors::Report(QStringLiteral("Socket %1: %2").arg(index).arg(text));
                });
            });
    connect(element, &SocketElement::SendComplete, this, [this, index] {
        Guarded([&] {
            qint16 i = index;
            emit WSSendComplete(i);
        });
    });
    connect(element, &SocketElement::SendProgress, this,
            [this, index](qint32 sent, qint32 remaining) {
                Guarded([&] {
                    qint16 i = index;
                    emit WSSendProgress(i, sent, remaining);
                });
            });
}
