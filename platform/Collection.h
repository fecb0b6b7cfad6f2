#pragma once

#include "platform/KeyedList.h"

#include <memory>

// What the window, connection and channel collections share: members in order at positions
// 1..Count, each filed under its InstanceKey and told its position (SetIndex) after every
// addition and removal. Members leave through their own Delete, which calls back RemoveAt.
template <class T> class Collection {
public:
    Collection() = default;
    Collection(const Collection &) = delete;
    Collection &operator=(const Collection &) = delete;

    qint32 Count() const { return m_items.Count(); }
    std::shared_ptr<T> Item(qint32 Index) const { return m_items.At(Index); }
    // NewEnum: the members in position order, as they are now. The walk goes over a copy, so
    // members may close or remove themselves (and others) while it runs.
    std::vector<std::shared_ptr<T>> NewEnum() const { return m_items.Snapshot(); }

    // Deletes every member, last first, so the positions still to visit stay valid while each
    // member takes itself out.
    void Clear() {
        for (qint32 i = Count(); i >= 1; --i)
            if (i <= Count()) // a member's Delete may have taken others with it
                Item(i)->Delete();
    }
    void Remove(qint32 Index) { Item(Index)->Delete(); }
    void Remove(const QString &Key) { m_items.ByKey(Key)->Delete(); }

    // Called back from a member's Delete. The member holds itself alive for the rest of it.
    void RemoveAt(qint32 position) {
        m_items.TakeAt(position);
        Reindex(position);
    }

protected:
    void Append(const std::shared_ptr<T> &member) {
        m_items.Add(member, member->InstanceKey());
        Reindex(Count());
    }
    // Only the members from position from on change their number; the member at position 1 is
    // told again as well, since whichever member stands first takes that role anew.
    void Reindex(qint32 from) {
        const qint32 count = Count();
        if (from > 1 && count >= 1)
            m_items.At(1)->SetIndex(1);
        for (qint32 i = qMax(1, from); i <= count; ++i)
            m_items.At(i)->SetIndex(i);
    }

    KeyedList<T> m_items;
};
