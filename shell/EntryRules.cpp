#include "EntryRules.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cmath>
#include <string>

namespace tallowdesk::shell {
namespace {

QString Text(const std::optional<std::string>& s) {
    return s ? QString::fromStdString(*s) : QString();
}

// Lower case without accents: "Éte" and "ete" are one key.
QString Folded(const QString& s) {
    // Most names are plain ASCII: no accents to take off.
    if (std::all_of(s.begin(), s.end(), [](QChar c) { return c.unicode() < 0x80; }))
        return s.toLower();
    const QString decomposed = s.normalized(QString::NormalizationForm_D);
    QString out;
    out.reserve(decomposed.size());
    for (const QChar c : decomposed)
        if (c.category() != QChar::Mark_NonSpacing) out.append(c);
    return out.toCaseFolded();
}

int Sign(qint64 v) {
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

// Compares folded texts, digit runs by value (leading zeros ignored).
int CompareFolded(const QString& a, const QString& b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit()) ++ei;
            while (ej < b.size() && b[ej].isDigit()) ++ej;
            qsizetype si = i, sj = j;
            while (si + 1 < ei && a[si].digitValue() == 0) ++si;
            while (sj + 1 < ej && b[sj].digitValue() == 0) ++sj;
            if (ei - si != ej - sj) return Sign((ei - si) - (ej - sj));
            for (; si < ei; ++si, ++sj)
                if (a[si].digitValue() != b[sj].digitValue())
                    return Sign(a[si].digitValue() - b[sj].digitValue());
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return Sign(a[i].unicode() - b[j].unicode());
        ++i;
        ++j;
    }
    return Sign((a.size() - i) - (b.size() - j));
}

// Folders before everything else, in the columns that have the folder rule.
int FolderRank(const DocEntry& e) {
    return e.IsFolder() ? 0 : 1;
}

int CompareKeys(const DocEntry& a, const DocEntry& b, int column) {
    switch (column) {
        case 0:
            return NaturalCompare(Text(a.title), Text(b.title));
        case 1:
            return NaturalCompare(QString::fromStdString(a.kind), QString::fromStdString(b.kind));
        case 2: {
            const std::uint64_t x = ParseByteCount(a.quotaBytesUsed);
            const std::uint64_t y = ParseByteCount(b.quotaBytesUsed);
            return x < y ? -1 : (x > y ? 1 : 0);
        }
        case 3:
            return NaturalCompare(Text(a.authorName), Text(b.authorName));
        default:
            return 0;
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
    if (column == 1) return CompareKeys(*a, *b, column);
    if (FolderRank(*a) != FolderRank(*b)) return FolderRank(*a) - FolderRank(*b);
    // Folders among themselves go by name in every column with the folder rule.
    return a->IsFolder() ? CompareKeys(*a, *b, 0) : CompareKeys(*a, *b, column);
}

int NaturalCompare(const QString& a, const QString& b) {
    if (const int c = CompareFolded(Folded(a), Folded(b))) return c;
    if (const int c = QString::localeAwareCompare(a, b)) return c;
    return Sign(QString::compare(a, b));
}

bool EntryBefore(const DocEntry& a, const DocEntry& b, int column, bool ascending) {
    int c = CompareEntries(&a, &b, column);
    if (c == 0) c = NaturalCompare(Text(a.title), Text(b.title));
    if (c == 0) c = Sign(QString::compare(Text(a.resourceId), Text(b.resourceId)));
    return ascending ? c < 0 : c > 0;
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

QString EmptyListText(const std::optional<QString>& searchQuery, bool isFolder) {
    if (searchQuery)
        return QCoreApplication::translate("EntryRules", "No items match \"%1\".")
            .arg(*searchQuery);
    return isFolder ? QCoreApplication::translate("EntryRules", "This folder is empty.")
                    : QCoreApplication::translate("EntryRules", "There are no items here.");
}

QString SearchResultsText(const QString& query) {
    return QCoreApplication::translate("EntryRules", "Search results for \"%1\"").arg(query);
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
