#pragma once

#include <QStringList>

// An array of strings that keeps its own index range, as the word arrays of the command
// interpreter do: a slice of words 2..4 still answers to indices 2, 3 and 4.
struct StringArray {
    qint32 LowerBound = 0;
    QStringList Items;

    StringArray() = default;
    StringArray(QStringList items, qint32 lowerBound = 0)
        : LowerBound(lowerBound), Items(std::move(items)) {}

    qint32 Count() const { return static_cast<qint32>(Items.size()); }
    qint32 UpperBound() const { return LowerBound + Count() - 1; }
    const QString &operator[](qint32 index) const { return Items.at(index - LowerBound); }
    bool operator==(const StringArray &other) const {
        return LowerBound == other.LowerBound && Items == other.Items;
    }
};
