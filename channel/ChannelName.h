#pragma once

#include <QStringView>
#include <cstddef>

// Channel names (and nicks) compared the way the collection finds them: one character at a time,
// each by its simple upper-case form, so that no name changes length ("#straße" and "#strasse"
// stay apart, "#CAFÉ" meets "#café") and [ never meets {. Neither builds a folded copy: a lookup
// on the receive path allocates nothing.
namespace ChannelName {

// Equal names hash alike.
size_t Hash(QStringView name);
bool Same(QStringView a, QStringView b);

} // namespace ChannelName
