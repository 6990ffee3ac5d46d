#include "EntryRules.h"

#include <QCoreApplication>
#include <QDateTime>
#include <cmath>
#include <string>

namespace tallowdesk::shell {
namespace {

QString Text(const std::optional<std::string>& s) {
    return s ? QString::fromStdString(*s) : QString();
}

QString FolderKey(const DocEntry& e) {
    return QStringLiteral("  ") + Text(e.title);
}

// Right-aligned in 30 characters, padded with "0", so byte counts compare as numbers.
QString PaddedKey(const QString& key) {
    return key.rightJustified(30, QLatin1Char('0'));
}

QString ColumnKey(const DocEntry& e, int column) {
    switch (column) {
        case 0:
            return e.IsFolder() ? FolderKey(e) : Text(e.title);
        case 1:
            return QString::fromStdString(e.kind);
        case 2:
            return PaddedKey(e.IsFolder() ? FolderKey(e) : Text(e.quotaBytesUsed));
        case 3:
            return e.IsFolder() ? FolderKey(e) : Text(e.authorName);
        default:
            return {};
    }
}

QDateTime ParseTime(const std::optional<std::string>& text) {
    return QDateTime::fromString(Text(text), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

}  // namespace

int CompareEntries(const DocEntry* a, const DocEntry* b, int column) {
    if (!a || !b || column < 0 || column >= kColumnCount) return 0;
    if (column == 4) {
        const QDateTime ta = ParseTime(a->updated);
        const QDateTime tb = ParseTime(b->updated);
        if (!ta.isValid() || !tb.isValid()) return 0;
        const double seconds = static_cast<double>(tb.msecsTo(ta)) / 1000.0;
        return static_cast<int>(std::lround(seconds));
    }
    return QString::localeAwareCompare(ColumnKey(*a, column), ColumnKey(*b, column));
}

int EntryIconIndex(const DocEntry& e) {
    if (e.kind == "folder") return 0;
    if (e.kind == "document") return 2;
    if (e.kind == "spreadsheet") return 3;
    if (e.kind == "presentation") return 4;
    if (e.kind == "pdf") return 8;
    if (e.kind == "drawing") return 10;
    if (e.kind != "file") return 1;
    const std::string type = e.contentType.value_or(std::string());
    const auto has = [&type](const char* part) { return type.find(part) != std::string::npos; };
    if (has("image")) return 9;
    if (has("msword") || has("vnd.openxmlformats-officedocument.wordprocessingml.document"))
        return 5;
    if (has("vnd.ms-excel") || has("vnd.openxmlformats-officedocument.spreadsheetml.sheet"))
        return 6;
    if (has("vnd.ms-powerpoint") ||
        has("vnd.openxmlformats-officedocument.presentationml.presentation"))
        return 7;
    return 1;
}

QString EntryIconThemeName(int index) {
    // Uploaded office files share the names of the service's own kinds:
    // themes draw them alike.
    static const char* const kNames[kEntryIconCount] = {"folder",
                                                        "text-x-generic",
                                                        "x-office-document",
                                                        "x-office-spreadsheet",
                                                        "x-office-presentation",
                                                        "x-office-document",
                                                        "x-office-spreadsheet",
                                                        "x-office-presentation",
                                                        "application-pdf",
                                                        "image-x-generic",
                                                        "x-office-drawing"};
    if (index < 0 || index >= kEntryIconCount) return {};
    return QString::fromLatin1(kNames[index]);
}

QString StatusText(int rowCount, int selectedCount) {
    if (selectedCount == 1) return QCoreApplication::translate("EntryRules", "1 item selected");
    if (selectedCount > 1)
        return QCoreApplication::translate("EntryRules", "%1 items selected").arg(selectedCount);
    return (rowCount <= 1 ? QCoreApplication::translate("EntryRules", "%1 item")
                          : QCoreApplication::translate("EntryRules", "%1 items"))
        .arg(rowCount);
}

}  // namespace tallowdesk::shell
