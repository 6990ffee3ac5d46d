#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "EntryRules.h"
#include "ListingPages.h"
#include "UiMessages.h"

class QAbstractItemView;
class QMimeData;
class QItemSelectionModel;
class QLabel;
class QListView;
class QStackedWidget;
class QTimer;
class QTreeView;

namespace tallowdesk::shell {

class CMsgDlg;
class EntryCellDelegate;
class EntryListModel;
struct AppState;

// How the entry list is drawn.
enum class ListStyle { LargeIcons, SmallIcons, List, Details };

// The right pane: the entries of the current location in one model, drawn
// as icons or a list (QListView) or as details (QTreeView), switched in place
// with one selection. Owns the model and its "Processing......" window, which
// is visible exactly while a listing runs; starts the listing worker and
// receives its messages. The worker's pages go into the model one per
// event-loop turn (see ListingPages), so a large folder never holds the
// window. UI thread.
class CTallowdeskView : public QWidget, public ListViewMessages {
    Q_OBJECT
public:
    CTallowdeskView(std::shared_ptr<AppState> state, QWidget* parent = nullptr);
    ~CTallowdeskView() override;

    EntryListModel* Model() const { return m_model; }
    QItemSelectionModel* Selection() const { return m_selection; }
    QAbstractItemView* ActiveView() const;
    CMsgDlg* ProcessingWindow() const { return m_processing; }
    bool Processing() const { return m_isProcessing; }
    int SelectedCount() const;
    // The selected rows in row order (any cell of a row selects the row, as
    // the icon and list styles show one column only).
    std::vector<int> SelectedRows() const;
    std::vector<DocEntryPtr> SelectedEntries() const;
    // Starts in-place editing of the first selected row's name.
    void EditFirstSelected();
    const SortState& Sort() const { return m_sort; }

    ListStyle Style() const { return m_style; }
    void SetStyle(ListStyle style);

    // Shows the processing window and lists the current location again.
    void RefreshList();
    // A search empties the list under the processing window showing line;
    // its results arrive as "Entry Items Added"; EndSearch hides the window.
    // query names what was searched for (the label over the results).
    void BeginSearch(const QString& line, const QString& query = {});
    // failed: the search did not answer (the list then says so, not "no match").
    void EndSearch(bool failed = false);
    void UpdateStatusText();
    // Sorts as a click on the column heading does.
    void SortByColumn(int column);
    // Sorts the rows by the column and direction chosen last (if any).
    void ApplySort();
    // Lines the icons up on their grid again.
    void ArrangeIcons();

    // ListViewMessages: the worker's messages, delivered through a ListViewPort.
    void EntryItemsAdded(std::uint64_t generation, EntryPage page) override;
    void ListingReset() override;
    void ListingFinished(std::uint64_t generation, const CurrentLocation& location,
                         const std::optional<std::string>& failure) override;
    // Why the last listing ended early; nothing when it read every page.
    const std::optional<std::string>& ListingFailure() const { return m_listingFailure; }
    void AddNewlyUploadedItem(const tinyxml2::XMLDocument& reply) override;
    void DeleteItemByResourceId(const std::string& resourceId) override;
    void DeleteItemByEditLink(const std::string& editHref) override;
    void RefreshListView() override;
    void ExitActionThread(const QPointer<QObject>& processingWindow) override;
    void AddUploadedEntry(const DocEntryPtr& entry) override;
    void FolderNameChangedInTree(const std::string& title, const std::string& url) override;
    void CommandFailed(const std::string& text) override;

signals:
    void StatusTextChanged(const QString& text);
    void ProcessingChanged(bool processing);
    void SelectionChanged();
    // The folder tree should expand / select the node of this feed URL.
    void ExpandTreeNode(const std::string& url);
    void SelectTreeNode(const std::string& url);
    void ContextMenuWanted(const QPoint& globalPos);
    void ActivatedRow(int row);
    // The name of row was edited in place to text (not yet taken).
    void RenameWanted(int row, const QString& text);
    // Files from outside were dropped on the list (the drop was taken).
    // folderUrl: the contents feed of the folder row dropped on; empty for
    // the place shown.
    void Dropped(const QMimeData* data, const QString& folderUrl);
    // A drag of rows out of the list is over (dropped, refused or cancelled).
    void DragEnded();
    // A command on the rows failed (what and why).
    void Failed(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowModelIn(QAbstractItemView* shown);
    void SetProcessing(bool on);
    // The text over an empty list, shown once the place is fully listed.
    void UpdatePlaceholder();
    bool HandleDragEvent(QEvent* event);
    // A listing or search begins: the rows and every page still on its way go.
    void StartRun();
    void InsertNextPage();
    void EndRun(const PagesEnd& end);
    // The list style's cells are as wide as the widest name (measured as
    // pages come, from row first on).
    void FitListCells(int first);
    QSize ListCellSize() const;

    std::shared_ptr<AppState> m_state;
    void ShowDropRow(int row);  // -1: none
    EntryListModel* m_model;
    QItemSelectionModel* m_selection;
    QStackedWidget* m_stack;
    QLabel* m_searchBanner;
    QLabel* m_placeholder;
    std::optional<QString> m_searchQuery;  // while the list shows search results
    bool m_searchFailed = false;
    QListView* m_iconView;
    EntryCellDelegate* m_cells;
    QTreeView* m_detailsView;
    QByteArray m_headerState;
    CMsgDlg* m_processing;
    ListingPages m_pages;
    QTimer* m_nextPage;
    int m_widestName = 0;      // pixels, of the names listed so far
    std::uint64_t m_turn = 0;  // passes of the event loop
    std::optional<std::uint64_t> m_insertedInTurn;
    bool m_isProcessing = false;
    std::optional<std::string> m_listingFailure;
    SortState m_sort;
    ListStyle m_style = ListStyle::Details;
};

// The processing window's line for a listing of the location titled title.
QString ListingLine(const QString& title);

}  // namespace tallowdesk::shell
