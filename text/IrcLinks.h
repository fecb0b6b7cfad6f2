#pragma once

#include <QString>
#include <QStringView>
#include <vector>

namespace IrcFormat {

// http://, https://, irc:// and www. links in drawn text (see IrcFormat.h): [start,
// start + length) and the address to open. A link ends at a blank, a control symbol or a hidden
// code; a closing . , ; : ! ? ' or ) is left out unless the ) closes a ( inside the link. The
// cost is linear in the text's length.
struct Link {
    qsizetype start = 0;
    qsizetype length = 0;
    QString url;
};
std::vector<Link> links(QStringView drawn);

} // namespace IrcFormat
