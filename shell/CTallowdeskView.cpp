#include "CTallowdeskView.h"

#include <tinyxml2.h>

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QListView>
#include <QMimeData>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>
#include <set>

#include "AppState.h"
#include "DropRules.h"
#include "EntryListModel.h"
#include "Resources.h"
#include "Worker.h"
#include "dialogs/CMsgDlg.h"
#include "transfer/TransferFlags.h"

namespace tallowdesk::shell {
namespace {

std::vector<QIcon> EntryIcons() {
    std::vector<QIcon> icons;
    for (int i = 0; i < kEntryIconCount; ++i) icons.push_back(EntryIcon(i));
    return icons;
}

// The listing worker's reports, turned into the list view's messages.
class PortSink : public ListingSink {
public:
    explicit PortSink(ListViewPort port) : m_port(std::move(port)) {}
    void ResetList() override { m_port.ListingReset(); }
    void EntriesAdded(std::uint64_t generation, std::size_t firstIndex) override {
        m_port.EntryItemsAdded(generation, firstIndex);
    }
    void ListingFinished(const CurrentLocation& location) override {
        m_port.ListingFinished(location);
    }

private:
    ListViewPort m_port;
};

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

    m_iconView = new QListView(this);
    m_iconView->setObjectName(QStringLiteral("entryIconView"));
    m_detailsView = new QTreeView(this);
    m_detailsView->setObjectName(QStringLiteral("entryDetailsView"));
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
    header->setSortIndicatorShown(false);
    header->setStretchLastSection(false);
    const int widths[kColumnCount] = {160, 160, 80, 100, 160};
    for (int c = 0; c < kColumnCount; ++c) header->resizeSection(c, widths[c]);
    connect(header, &QHeaderView::sectionClicked, this, &CTallowdeskView::SortByColumn);

    m_stack = new QStackedWidget(this);
    m_stack->addWidget(m_iconView);
    m_stack->addWidget(m_detailsView);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    SetStyle(ListStyle::Details);

    connect(m_selection, &QItemSelectionModel::selectionChanged, this, [this] {
        UpdateStatusText();
        emit SelectionChanged();
    });
    connect(m_model, &EntryListModel::RenameRequested, this, &CTallowdeskView::RenameWanted);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &CTallowdeskView::UpdateStatusText);
    connect(m_model, &QAbstractItemModel::modelReset, this, &CTallowdeskView::UpdateStatusText);

    m_processing = new CMsgDlg(this);
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
            m_iconView->setGridSize(QSize(96, 72));
            m_iconView->setFlow(QListView::LeftToRight);
            m_iconView->setWrapping(true);
            m_iconView->setWordWrap(true);
            break;
        case ListStyle::SmallIcons:
            m_iconView->setViewMode(QListView::ListMode);
            m_iconView->setIconSize(QSize(16, 16));
            m_iconView->setGridSize(QSize(180, 22));
            m_iconView->setFlow(QListView::LeftToRight);
            m_iconView->setWrapping(true);
            m_iconView->setWordWrap(false);
            break;
        case ListStyle::List:
            m_iconView->setViewMode(QListView::ListMode);
            m_iconView->setIconSize(QSize(16, 16));
            m_iconView->setGridSize(QSize());
            m_iconView->setFlow(QListView::TopToBottom);
            m_iconView->setWrapping(true);
            m_iconView->setWordWrap(false);
            break;
        case ListStyle::Details:
            break;
    }
    if (style != ListStyle::Details) {
        m_iconView->setResizeMode(QListView::Adjust);
        m_iconView->setMovement(QListView::Static);
    }
    QWidget* shown = ActiveView();
    const bool hadFocus = m_stack->currentWidget() && m_stack->currentWidget()->hasFocus();
    m_stack->setCurrentWidget(shown);
    if (hadFocus) shown->setFocus();
}

void CTallowdeskView::SetProcessing(bool on) {
    if (on) {
        if (isVisible()) m_processing->ShowOverParent();
    } else {
        m_processing->hide();
    }
    if (m_isProcessing == on) return;
    m_isProcessing = on;
    emit ProcessingChanged(on);
}

void CTallowdeskView::RefreshList() {
    const CurrentLocation location = m_state->navigation.Current();
    m_processing->SetLine(ListingLine(QString::fromStdString(location.title)));
    SetProcessing(true);
    m_model->Clear();
    emit ExpandTreeNode(location.url);
    if (!m_state->listing.Request(location)) return;  // the running worker restarts

    struct Block {
        std::shared_ptr<AppState> state;
        FeedFetcher fetch;
        ListViewPort view;
    };
    StartWorker(std::make_unique<Block>(Block{m_state, m_state->calls.getFeed, ListViewPort(this)}),
                [](Block& b) {
                    PortSink sink(b.view);
                    RunListing(b.state->listing, b.state->entries, b.fetch, sink);
                });
}

void CTallowdeskView::BeginSearch(const QString& line) {
    m_processing->SetLine(line);
    SetProcessing(true);
    m_model->Clear();
}

void CTallowdeskView::EndSearch() {
    SetProcessing(false);
    UpdateStatusText();
}

void CTallowdeskView::UpdateStatusText() {
    emit StatusTextChanged(StatusText(m_model->rowCount(), SelectedCount()));
}

void CTallowdeskView::SortByColumn(int column) {
    m_sort.Click(column);
    m_model->sort(column, m_sort.Ascending() ? Qt::AscendingOrder : Qt::DescendingOrder);
    UpdateStatusText();
}

void CTallowdeskView::ArrangeIcons() {
    m_iconView->doItemsLayout();
}

void CTallowdeskView::EntryItemsAdded(std::uint64_t generation, std::size_t firstIndex) {
    m_model->AppendFrom(m_state->entries, generation, firstIndex);
    UpdateStatusText();
}

void CTallowdeskView::ListingReset() {
    m_model->Clear();
}

void CTallowdeskView::ListingFinished(const CurrentLocation& location) {
    SetProcessing(false);
    UpdateStatusText();
    emit SelectTreeNode(location.url);
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

bool CTallowdeskView::HandleDragEvent(QEvent* event) {
    auto* drag = static_cast<QDropEvent*>(event);
    const QMimeData* data = drag->mimeData();
    if (!AcceptsDrop(DropOfferFrom(data, m_isProcessing, transferBusy.load()))) {
        // Refused over the whole list: the cursor shows it.
        drag->setDropAction(Qt::IgnoreAction);
        event->ignore();
        return true;
    }
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (event->type() == QEvent::Drop) emit Dropped(data);
    return true;
}

bool CTallowdeskView::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ContextMenu:
            emit ContextMenuWanted(static_cast<QContextMenuEvent*>(event)->globalPos());
            return true;
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
            return HandleDragEvent(event);
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace tallowdesk::shell
