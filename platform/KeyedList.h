#pragma once

#include "platform/VelloqError.h"

#include <QHash>
#include <QString>
#include <memory>
#include <vector>

// The ordered keyed list inside every collection: members in order of addition at positions
// 1..Count, each also filed under a unique text key. A missing position or key and a duplicate
// key are errors that reach the caller.
template <class T> class KeyedList {
public:
    using Pointer = std::shared_ptr<T>;

private:
    struct Entry {
        QString key;
        Pointer item;
    };

public:
    qint32 Count() const { return static_cast<qint32>(m_items.size()); }

    void Add(const Pointer &item, const QString &key) {
        if (m_keys.contains(key))
            throw VelloqError(VelloqError::DuplicateKey,
                              QStringLiteral("This key is already associated with an element of "
                                             "this collection: %1")
                                  .arg(key));
        m_items.push_back({key, item});
        m_keys.insert(key, item.get());
    }

    const Pointer &At(qint32 position) const { return m_items[checked(position)].item; }

    const Pointer &ByKey(const QString &key) const {
        const qint32 position = PositionOfKey(key);
        if (position < 1)
            throw VelloqError(VelloqError::InvalidArgument,
                              QStringLiteral("No element with key \"%1\"").arg(key));
        return m_items[static_cast<size_t>(position - 1)].item;
    }

    bool ContainsKey(const QString &key) const { return m_keys.contains(key); }

    // Position 1..Count of the element under key, or 0 when there is none.
    qint32 PositionOfKey(const QString &key) const {
        const T *wanted = m_keys.value(key, nullptr);
        if (!wanted)
            return 0;
        for (size_t i = 0; i < m_items.size(); ++i)
            if (m_items[i].item.get() == wanted)
                return static_cast<qint32>(i + 1);
        return 0;
    }

    // Takes the entry at position out and hands the owning pointer to the caller, so that a
    // member removing itself stays alive until its caller lets go.
    Pointer TakeAt(qint32 position) {
        const size_t i = checked(position);
        Pointer taken = std::move(m_items[i].item);
        m_keys.remove(m_items[i].key);
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(i));
        return taken;
    }

    // Iteration in position order over the owning pointers (the collections' NewEnum).
    class const_iterator {
    public:
        const Pointer &operator*() const { return m_it->item; }
        const_iterator &operator++() {
            ++m_it;
            return *this;
        }
        bool operator!=(const const_iterator &other) const { return m_it != other.m_it; }

    private:
        friend class KeyedList;
        using Inner = typename std::vector<typename KeyedList::Entry>::const_iterator;
        explicit const_iterator(Inner it) : m_it(it) {}
        Inner m_it;
    };
    const_iterator begin() const { return const_iterator(m_items.begin()); }
    const_iterator end() const { return const_iterator(m_items.end()); }

    // A copy of the members, for walks during which members may remove themselves.
    std::vector<Pointer> Snapshot() const {
        std::vector<Pointer> out;
        out.reserve(m_items.size());
        for (const auto &entry : m_items)
            out.push_back(entry.item);
        return out;
    }

private:
    size_t checked(qint32 position) const {
        if (position < 1 || position > Count())
            throw VelloqError(VelloqError::SubscriptOutOfRange,
                              QStringLiteral("Subscript out of range: position %1 of %2")
                                  .arg(position)
                                  .arg(Count()));
        return static_cast<size_t>(position - 1);
    }

    std::vector<Entry> m_items;
    QHash<QString, const T *> m_keys;
};
