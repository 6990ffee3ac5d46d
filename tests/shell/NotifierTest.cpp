#include <QtTest>
#include <atomic>
#include <thread>

#include "Notifier.h"
#include "UiMessages.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

// A receiver that records where and what it was told.
class Receiver : public QObject, public ListViewMessages {
public:
    QThread* calledOn = nullptr;
    std::string lastText;
    std::vector<std::pair<std::uint64_t, std::size_t>> added;

    void EntryItemsAdded(std::uint64_t g, EntryPage page) override {
        calledOn = QThread::currentThread();
        added.emplace_back(g, page.size());
    }
    void ListingReset() override {}
    void ListingFinished(std::uint64_t, const CurrentLocation&,
                         const std::optional<std::string>&) override {}
    void CommandFailed(const std::string&) override {}
    void AddNewlyUploadedItem(const tinyxml2::XMLDocument&) override {}
    void DeleteItemByResourceId(const std::string& id) override {
        calledOn = QThread::currentThread();
        lastText = id;
    }
    void DeleteItemByEditLink(const std::string&) override {}
    void RefreshListView() override {}
    void ExitActionThread(const QPointer<QObject>&) override {}
    void AddUploadedEntry(const tallowdesk::DocEntryPtr&) override {}
    void FolderNameChangedInTree(const std::string&, const std::string&) override {}
};

// A page of n records.
EntryPage Page(std::size_t n) {
    EntryPage page;
    for (std::size_t i = 0; i < n; ++i) page.push_back(std::make_shared<const DocEntry>());
    return page;
}

// Runs fn on a plain thread while the UI thread keeps its event loop going.
template <typename Fn>
void OnWorker(Fn fn) {
    std::atomic<bool> done{false};
    std::thread t([&] {
        fn();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
    t.join();
}

}  // namespace

// The send/post hand-over between workers and the UI thread.
class NotifierTest : public QObject {
    Q_OBJECT
private slots:
    void sendFromAWorkerWaitsForTheHandler() {
        Receiver r;
        ListViewPort port(&r);
        bool seenAfterSend = false;
        OnWorker([&] {
            std::string id = "file:123";  // worker-owned memory, read by the handler
            port.DeleteItemByResourceId(id);
            id = "overwritten";
            seenAfterSend = r.lastText == "file:123";
        });
        QVERIFY(seenAfterSend);
        QCOMPARE(r.calledOn, QThread::currentThread());
    }

    void sendOnTheUiThreadCallsDirectly() {
        Receiver r;
        ListViewPort(&r).DeleteItemByResourceId("file:1");  // would deadlock if queued
        QCOMPARE(r.lastText, std::string("file:1"));
    }

    void postDeliversLaterInOrder() {
        Receiver r;
        ListViewPort port(&r);
        OnWorker([&] {
            port.EntryItemsAdded(7, Page(0));
            port.EntryItemsAdded(7, Page(10));
        });
        QTRY_COMPARE(r.added.size(), std::size_t(2));
        QCOMPARE(r.added[1], (std::pair<std::uint64_t, std::size_t>(7, 10)));
        QCOMPARE(r.calledOn, QThread::currentThread());

        port.EntryItemsAdded(8, Page(0));  // even on the UI thread a post is queued
        QCOMPARE(r.added.size(), std::size_t(2));
        QTRY_COMPARE(r.added.size(), std::size_t(3));
    }

    void aGoneReceiverIsSkippedWithoutBlocking() {
        auto* r = new Receiver;
        ListViewPort port(r);
        delete r;  // a dialog closed before its worker reported
        OnWorker([&] {
            port.DeleteItemByResourceId("x");
            port.EntryItemsAdded(1, Page(0));
        });
        QCoreApplication::processEvents();
    }

    void aReceiverDeletedWhilePostsAreQueuedGetsNone() {
        auto* r = new Receiver;
        ListViewPort port(r);
        port.EntryItemsAdded(1, Page(0));
        delete r;
        QCoreApplication::processEvents();  // must not touch the deleted receiver
    }
};

QTEST_GUILESS_MAIN(NotifierTest)
#include "NotifierTest.moc"
