#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace tallowdesk::shell {

// The X Direct Save hand-over of a drag out of the list, the one place that
// talks to the X server itself. The source names the file in the
// "XdndDirectSave0" property of the window that owns the drag selection; a
// target that takes direct saves (thunar, pcmanfm) writes the URL it wants
// the file at into the same property and then asks for the
// "XdndDirectSave0" type, and the source writes the file itself. All calls
// are UI thread and do nothing off X11.
class X11DirectSave {
public:
    // Whether the program runs on an X server.
    static bool Available();
    // Names the file the drag would save; true when the property was written.
    static bool OfferName(const QByteArray& name);
    // The URL a target wrote into the property (empty when none).
    static QByteArray Destination();
    // Removes the property once a drag is over.
    static void Withdraw();
};

// The local folder a target's direct-save URL points into: the folder that
// holds the named file, when the URL is a local file URL whose folder
// exists. Nothing for anything else (a web address, a missing folder).
std::optional<QString> DirectSaveFolder(const QByteArray& url);

inline constexpr const char* kDirectSaveType = "XdndDirectSave0";

}  // namespace tallowdesk::shell
