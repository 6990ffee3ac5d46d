#include "CTallowdeskView.h"

#include <tinyxml2.h>

#include <QAbstractEventDispatcher>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMimeData>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>
#include <set>

#include "AppState.h"
#include "DropRules.h"
#include "EntryCellDelegate.h"
#include "EntryListModel.h"
#include "EntryRules.h"
#include "ListingWorkers.h"
#include "Resources.h"
#include "dialogs/CMsgDlg.h"
#include "model/FeedCatalogue.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk::shell {
namespace {

// A view that says when a drag of its rows is over: dropped, refused or
// cancelled, whatever the target did.
template <class View>
class DragEndView final : public View {
public:
    DragEndView(QWidget* parent, std::function<void()> ended)
        : View(parent), m_ended(std::move(ended)) {}

protected:
    void startDrag(Qt::DropActions actions) override {
        View::startDrag(actions);
        m_ended();
    }

private:
    std::function<void()> m_ended;
};

std::vector<QIcon> EntryIcons() {
    std::vector<QIcon> icons;
    for (int i = 0; i < kEntryIconCount; ++i) icons.push_back(EntryIcon(i));
    return icons;
}

// Rows the icon and list styles lay out per event-loop turn: a batch costs
// about a millisecond, and a 10,000-row folder is laid out in ten turns.
constexpr int kLayoutBatch = 1000;

// Cells of the icon styles, inside their grid (the grid keeps a margin).
constexpr QSize kLargeIconGrid(96, 72);
constexpr QSize kLargeIconCell(92, 68);
constexpr QSize kSmallIconGrid(180, 22);
constexpr QSize kSmallIconCell(176, 20);
// The list style's column: as wide as the widest name, within these bounds.
constexpr int kListCellMin = 80;
constexpr int kListCellMax = 400;

}  // namespace

QString ListingLine(const QString& title) {
    return QCoreApplication::translate("CTallowdeskView",
                                       "Getting file information for \"%1 \"... ")
        .arg(title);
}

CTallowdeskView::CTallowdeskView(std::shared_ptr<AppState> state, QWidget* parent)
    : QWidget(parent), m_state(std::move(state)) {
    setObjectName(QStringLiteral("entryListView"));
    m_model = new EntryListModel(this);
    m_model->SetIcons(EntryIcons());
    m_selection = new QItemSelectionModel(m_model, this);

    const auto dragEnded = [this] { emit DragEnded(); };
    m_iconView = new DragEndView<QListView>(this, dragEnded);
    m_iconView->setObjectName(QStringLiteral("entryIconView"));
    // Large folders: every row in a cell of one size, laid out in batches
    // between events instead of the whole grid at once for every page.
    m_cells = new EntryCellDelegate(m_iconView);
    m_iconView->setItemDelegate(m_cells);
    m_iconView->setUniformItemSizes(true);
    m_iconView->setLayoutMode(QListView::Batched);
    m_iconView->setBatchSize(kLayoutBatch);
    m_detailsView = new DragEndView<QTreeView>(this, dragEnded);
    m_detailsView->setObjectName(QStringLiteral("entryDetailsView"));
    m_iconView->setAccessibleName(tr("Files and folders"));
    m_detailsView->setAccessibleName(tr("Files and folders"));
    for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(m_iconView),
                                 static_cast<QAbstractItemView*>(m_detailsView)}) {
        v->setModel(m_model);
        v->setSelectionModel(m_selection);
        v->setSelectionMode(QAbstractItemView::ExtendedSelection);
        // Whole rows in every style: the icon styles draw the first column
        // only, and the commands count rows.
        v->setSelectionBehavior(QAbstractItemView::SelectRows);
        // Names are edited by the Rename command and F2; the model hands the
        // edited text to the command instead of taking it.
        v->setEditTriggers(QAbstractItemView::EditKeyPressed);
        // Rows are dragged out as files; drops are judged in the event
        // filter (files from outside are uploaded).
        v->setAcceptDrops(true);
        v->viewport()->setAcceptDrops(true);
        v->setDragEnabled(true);
        v->setDragDropMode(QAbstractItemView::DragDrop);
        v->setDefaultDropAction(Qt::CopyAction);
        v->setContextMenuPolicy(Qt::DefaultContextMenu);
        v->viewport()->installEventFilter(this);
        v->installEventFilter(this);  // the menu key reaches the view, not its viewport
        connect(v, &QAbstractItemView::activated, this,
                [this](const QModelIndex& i) { emit ActivatedRow(i.row()); });
    }
    m_detailsView->setRootIsDecorated(false);
    m_detailsView->setUniformRowHeights(true);
    m_detailsView->setAllColumnsShowFocus(true);
    m_detailsView->setSortingEnabled(false);
    QHeaderView* header = m_detailsView->header();
    header->setSectionsClickable(true);
    // The arrow shows the order the user chose; none until a column is clicked.
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setStretchLastSection(false);
    const int widths[kColumnCount] = {160, 160, 80, 100, 160};
    for (int c = 0; c < kColumnCount; ++c) header->resizeSection(c, widths[c]);
    connect(header, &QHeaderView::sectionClicked, this, &CTallowdeskView::SortByColumn);

    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_iconView);
    m_stack->addWidget(m_detailsView);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Says that the list shows search results and for what; hidden in folders.
    m_searchBanner = new QLabel(this);
    m_searchBanner->setObjectName(QStringLiteral("searchResultsLabel"));
    m_searchBanner->setTextFormat(Qt::PlainText);
    m_searchBanner->setContentsMargins(4, 2, 4, 2);
    m_searchBanner->hide();
    layout->addWidget(m_searchBanner);
    layout->addWidget(m_stack);
    // Over the list, so an empty place says so instead of staying blank;
    // clicks and drops go through to the view below.
    m_placeholder = new QLabel(m_stack);
    m_placeholder->setObjectName(QStringLiteral("emptyListText"));
    m_placeholder->setTextFormat(Qt::PlainText);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setWordWrap(true);
    m_placeholder->setForegroundRole(QPalette::PlaceholderText);
    m_placeholder->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_placeholder->hide();
    m_stack->installEventFilter(this);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &CTallowdeskView::UpdatePlaceholder);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &CTallowdeskView::UpdatePlaceholder);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CTallowdeskView::UpdatePlaceholder);
    SetStyle(ListStyle::Details);

    // The current cell is the one announced on each move: keep it on the name,
    // so a screen reader hears the row's title, whichever cell was clicked.
    connect(m_selection, &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && current.column() != 0)
                    m_selection->setCurrentIndex(current.siblingAtColumn(0),
                                                 QItemSelectionModel::NoUpdate);
            });
    connect(m_selection, &QItemSelectionModel::selectionChanged, this, [this] {
        UpdateStatusText();
        emit SelectionChanged();
    });
    connect(m_model, &EntryListModel::RenameRequested, this, &CTallowdeskView::RenameWanted);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &CTallowdeskView::UpdateStatusText);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CTallowdeskView::UpdateStatusText);

    m_processing = new CMsgDlg(this);

    m_nextPage = new QTimer(this);
    m_nextPage->setSingleShot(true);
    m_nextPage->setInterval(0);
    connect(m_nextPage, &QTimer::timeout, this, &CTallowdeskView::InsertNextPage);
    // Each pass of the event loop wakes the dispatcher or lets it block: that
    // counts the turns, so a timer that fires twice in one pass still
    // inserts one page.
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread())) {
        connect(dispatcher, &QAbstractEventDispatcher::awake, this, [this] { ++m_turn; });
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] { ++m_turn; });
    }
}

CTallowdeskView::~CTallowdeskView() = default;

QAbstractItemView* CTallowdeskView::ActiveView() const {
    return m_style == ListStyle::Details ? static_cast<QAbstractItemView*>(m_detailsView)
                                         : static_cast<QAbstractItemView*>(m_iconView);
}

int CTallowdeskView::SelectedCount() const {
    return static_cast<int>(SelectedRows().size());
}

std::vector<int> CTallowdeskView::SelectedRows() const {
    std::set<int> rows;
    for (const QModelIndex& i : m_selection->selectedIndexes()) rows.insert(i.row());
    return {rows.begin(), rows.end()};
}

std::vector<DocEntryPtr> CTallowdeskView::SelectedEntries() const {
    std::vector<DocEntryPtr> entries;
    for (int row : SelectedRows())
        if (DocEntryPtr e = m_model->EntryAt(row)) entries.push_back(std::move(e));
    return entries;
}

void CTallowdeskView::EditFirstSelected() {
    const std::vector<int> rows = SelectedRows();
    if (rows.empty()) return;
    const QModelIndex cell = m_model->index(rows.front(), 0);
    QAbstractItemView* view = ActiveView();
    view->scrollTo(cell);
    view->edit(cell);
}

void CTallowdeskView::SetStyle(ListStyle style) {
    m_style = style;
    switch (style) {
        case ListStyle::LargeIcons:
            m_iconView->setViewMode(QListView::IconMode);
            m_iconView->setIconSize(QSize(32, 32));
            m_iconView->setGridSize(kLargeIconGrid);
            m_iconView->setFlow(QListView::LeftToRight);
            m_iconView->setWrapping(true);
            m_iconView->setWordWrap(true);
            m_cells->SetCellSize(kLargeIconCell);
            break;
        case ListStyle::SmallIcons:
            m_iconView->setViewMode(QListView::ListMode);
            m_iconView->setIconSize(QSize(16, 16));
            m_iconView->setGridSize(kSmallIconGrid);
            m_iconView->setFlow(QListView::LeftToRight);
            m_iconView->setWrapping(true);
            m_iconView->setWordWrap(false);
            m_cells->SetCellSize(kSmallIconCell);
            break;
        case ListStyle::List:
            m_iconView->setViewMode(QListView::ListMode);
            m_iconView->setIconSize(QSize(16, 16));
            m_iconView->setGridSize(QSize());
            m_iconView->setFlow(QListView::TopToBottom);
            m_iconView->setWrapping(true);
            m_iconView->setWordWrap(false);
            m_cells->SetCellSize(ListCellSize());
            break;
        case ListStyle::Details:
            break;
    }
    if (style != ListStyle::Details) {
        m_iconView->setResizeMode(QListView::Adjust);
        m_iconView->setMovement(QListView::Static);
        // A static movement also switches dragging and dropping off; rows
        // are still dragged out and files dropped on the list.
        m_iconView->setDragEnabled(true);
        m_iconView->viewport()->setAcceptDrops(true);
    }
    QAbstractItemView* shown = ActiveView();
    const bool hadFocus = m_stack->currentWidget() && m_stack->currentWidget()->hasFocus();
    ShowModelIn(shown);
    m_stack->setCurrentWidget(shown);
    if (hadFocus) shown->setFocus();
}

void CTallowdeskView::ShowModelIn(QAbstractItemView* shown) {
    // Only the view on screen holds the rows: a hidden view would still be
    // read out by assistive technology, item by item. The selection and the
    // current row live in the shared selection model and survive the change.
    QAbstractItemView* hidden = shown == m_iconView ? static_cast<QAbstractItemView*>(m_detailsView)
                                                    : static_cast<QAbstractItemView*>(m_iconView);
    if (hidden->model() == m_model) {
        if (hidden == m_detailsView) m_headerState = m_detailsView->header()->saveState();
        hidden->setModel(nullptr);
    }
    if (shown->model() == m_model) return;
    const std::vector<int> rows = SelectedRows();
    m_model->SetNameColumnOnly(shown == m_iconView);
    shown->setModel(m_model);
    shown->setSelectionModel(m_selection);
    if (shown == m_detailsView && !m_headerState.isEmpty())
        m_detailsView->header()->restoreState(m_headerState);
    // Columns put back are outside the selected ranges: select whole rows again.
    QItemSelection whole;
    for (int row : rows) whole.select(m_model->index(row, 0), m_model->index(row, 0));
    m_selection->select(whole, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void CTallowdeskView::SetProcessing(bool on) {
    if (on) {
        if (isVisible()) m_processing->ShowOverParent();
    } else {
        m_processing->hide();
    }
    if (m_isProcessing == on) return;
    m_isProcessing = on;
    UpdatePlaceholder();
    emit ProcessingChanged(on);
}

void CTallowdeskView::UpdatePlaceholder() {
    // Only once the place is fully listed: an empty list while rows are on
    // their way says nothing yet.
    const bool empty = !m_isProcessing && m_model->rowCount() == 0;
    if (empty) {
        m_placeholder->setText(
            m_searchQuery && m_searchFailed
                ? tr("Search failed.")
                : EmptyListText(m_searchQuery, m_state->navigation.Current().isFolder));
        m_placeholder->setGeometry(m_stack->rect());
        m_placeholder->raise();
    }
    m_placeholder->setVisible(empty);
}

void CTallowdeskView::RefreshList() {
    m_searchQuery.reset();
    m_searchBanner->hide();
    const CurrentLocation location = m_state->navigation.Current();
    m_processing->SetLine(ListingLine(QString::fromStdString(location.title)));
    SetProcessing(true);
    StartRun();
    emit ExpandTreeNode(location.url);
    if (!m_state->listing.Request(location)) return;  // the running worker restarts
    StartListingWorker(m_state, ListViewPort(this));
}

void CTallowdeskView::BeginSearch(const QString& line, const QString& query) {
    m_searchQuery = query;
    m_searchFailed = false;
    m_searchBanner->setText(SearchResultsText(query));
    m_searchBanner->show();
    m_processing->SetLine(line);
    SetProcessing(true);
    StartRun();
}

void CTallowdeskView::EndSearch(bool failed) {
    m_searchFailed = failed;
    m_pages.End(PagesEnd{});
    if (std::optional<PagesEnd> end = m_pages.TakeEnd()) EndRun(*end);
}

void CTallowdeskView::StartRun() {
    // Pages of the list as it is now, or older, belong to what is left.
    m_pages.Restart(m_state->entries.Generation());
    m_nextPage->stop();
    m_model->Clear();
    m_widestName = 0;
    m_listingFailure.reset();
}

void CTallowdeskView::InsertNextPage() {
    if (m_insertedInTurn == m_turn && m_pages.HasPages()) {
        m_nextPage->start();
        return;
    }
    if (std::optional<EntryPage> page = m_pages.Take()) {
        m_insertedInTurn = m_turn;
        const int first = m_model->rowCount();
        m_model->AppendPage(*page);
        ApplySort();
        FitListCells(first);
        UpdateStatusText();
    }
    if (m_pages.HasPages()) {
        m_nextPage->start();  // the next page in a later turn, after input and painting
        return;
    }
    if (std::optional<PagesEnd> end = m_pages.TakeEnd()) EndRun(*end);
}

void CTallowdeskView::EndRun(const PagesEnd& end) {
    SetProcessing(false);
    UpdateStatusText();
    if (end.listed) emit SelectTreeNode(end.listed->url);
}

QSize CTallowdeskView::ListCellSize() const {
    const QFontMetrics metrics(m_iconView->font());
    const int icon = m_iconView->iconSize().isValid() ? m_iconView->iconSize().width() : 16;
    const int width = std::clamp(m_widestName + icon + 16, kListCellMin, kListCellMax);
    return {width, std::max(metrics.height(), icon) + 4};
}

void CTallowdeskView::FitListCells(int first) {
    const QFontMetrics metrics(m_iconView->font());
    int widest = m_widestName;
    for (int row = first; row < m_model->rowCount(); ++row) {
        const QString name = m_model->data(m_model->index(row, 0), Qt::DisplayRole).toString();
        widest = std::max(widest, metrics.horizontalAdvance(name));
    }
    if (widest == m_widestName) return;
    m_widestName = widest;
    // The insertion already asked for a new layout; it takes the new size.
    if (m_style == ListStyle::List) m_cells->SetCellSize(ListCellSize());
}

void CTallowdeskView::UpdateStatusText() {
    // A list cut short by a failure must not read as a complete one ("0 item").
    if (m_listingFailure && !m_isProcessing) {
        emit StatusTextChanged(
            tr("The list could not be read: %1").arg(QString::fromStdString(*m_listingFailure)));
        return;
    }
    emit StatusTextChanged(StatusText(m_model->rowCount(), SelectedCount()));
}

void CTallowdeskView::SortByColumn(int column) {
    m_sort.Click(column);
    ApplySort();
    UpdateStatusText();
}

void CTallowdeskView::ApplySort() {
    // The chosen order holds for every place and refresh of the session:
    // rows arriving later are sorted in, not left in the service's order.
    const Qt::SortOrder order = m_sort.Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder;
    m_detailsView->header()->setSortIndicator(m_sort.Column(), order);
    if (m_sort.Column() >= 0) m_model->sort(m_sort.Column(), order);
}

void CTallowdeskView::ArrangeIcons() {
    m_iconView->doItemsLayout();
}

void CTallowdeskView::EntryItemsAdded(std::uint64_t generation, EntryPage page) {
    // Queued, not inserted here: several posted pages may be handled in one
    // turn of the event loop, and only one goes in per turn.
    if (m_pages.Offer(generation, std::move(page)) && !m_nextPage->isActive()) m_nextPage->start();
}

void CTallowdeskView::ListingReset() {
    StartRun();
}

void CTallowdeskView::ListingFinished(std::uint64_t generation, const CurrentLocation& location,
                                      const std::optional<std::string>& failure) {
    if (!m_pages.IsCurrent(generation)) return;  // a listing the window already left
    m_listingFailure = failure;
    m_pages.End(PagesEnd{location});
    if (std::optional<PagesEnd> end = m_pages.TakeEnd()) EndRun(*end);
}

void CTallowdeskView::AddNewlyUploadedItem(const tinyxml2::XMLDocument& reply) {
    const tinyxml2::XMLElement* entry = reply.FirstChildElement("entry");
    if (!entry) return;
    AddUploadedEntry(std::make_shared<const DocEntry>(ParseEntry(*entry)));
}

void CTallowdeskView::AddUploadedEntry(const DocEntryPtr& entry) {
    if (!entry) return;
    // In front of the list and of the rows; a listing that runs keeps
    // appending behind it.
    m_state->entries.InsertFront(entry);
    m_model->InsertAtTop(entry);
    ApplySort();
    UpdateStatusText();
}

void CTallowdeskView::DeleteItemByResourceId(const std::string& resourceId) {
    m_model->RemoveRowAt(m_model->FindRowByResourceId(resourceId));
}

void CTallowdeskView::DeleteItemByEditLink(const std::string& editHref) {
    m_model->RemoveRowAt(m_model->FindRowByEditHref(editHref));
}

void CTallowdeskView::RefreshListView() {
    RefreshList();
}

void CTallowdeskView::ExitActionThread(const QPointer<QObject>& processingWindow) {
    if (auto* window = qobject_cast<QWidget*>(processingWindow.data())) {
        window->hide();
        window->deleteLater();
    }
}

void CTallowdeskView::FolderNameChangedInTree(const std::string& title, const std::string& url) {
    m_model->RenameByContentSrc(url, QString::fromStdString(title));
}

void CTallowdeskView::ShowDropRow(int row) {
    m_model->SetDropRow(row);
}

void CTallowdeskView::CommandFailed(const std::string& text) {
    emit Failed(QString::fromStdString(text));
}

bool CTallowdeskView::HandleDragEvent(QEvent* event) {
    if (event->type() == QEvent::DragLeave) {
        ShowDropRow(-1);
        UpdateStatusText();
        return false;
    }
    auto* drag = static_cast<QDropEvent*>(event);
    const QMimeData* data = drag->mimeData();
    // A folder row under the pointer takes the drop itself, as file
    // managers do; elsewhere it goes into the place shown.
    const QModelIndex under = ActiveView()->indexAt(drag->position().toPoint());
    const DocEntryPtr entry = under.isValid() ? m_model->EntryAt(under.row()) : nullptr;
    const bool onFolder = entry && entry->IsFolder();
    DropOffer offer = DropOfferFrom(data, m_isProcessing, transferBusy.load());
    offer.placeTakesFiles = onFolder || !IsCategoryUrl(m_state->navigation.Current().url);
    if (!AcceptsDrop(offer)) {
        // Refused over the whole list: the cursor shows it.
        ShowDropRow(-1);
        if (!offer.placeTakesFiles && !offer.urls.isEmpty())
            emit StatusTextChanged(
                RefusedDropText(QString::fromStdString(m_state->navigation.Current().title)));
        drag->setDropAction(Qt::IgnoreAction);
        event->ignore();
        return true;
    }
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (event->type() != QEvent::Drop) {
        ShowDropRow(onFolder ? under.row() : -1);
        return true;
    }
    ShowDropRow(-1);
    UpdateStatusText();
    emit Dropped(data, onFolder ? QString::fromStdString(FolderContentsUrl(*entry)) : QString());
    return true;
}

bool CTallowdeskView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_stack) {
        if (event->type() == QEvent::Resize) m_placeholder->setGeometry(m_stack->rect());
        return false;
    }
    switch (event->type()) {
        case QEvent::ContextMenu:
            emit ContextMenuWanted(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
            return HandleDragEvent(event);
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tallowdesk::shell
