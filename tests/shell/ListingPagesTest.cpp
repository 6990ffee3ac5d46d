#include <QtTest>

#include "ListingPages.h"

using namespace tallowdesk;
using namespace tallowdesk::shell;

namespace {

// A page of records titled prefix0, prefix1, ...
EntryPage Page(const std::string& prefix, int n) {
    EntryPage page;
    for (int i = 0; i < n; ++i) {
        DocEntry e;
        e.title = prefix + std::to_string(i);
        page.push_back(std::make_shared<const DocEntry>(e));
    }
    return page;
}

std::string FirstTitle(const std::optional<EntryPage>& page) {
    return page && !page->empty() ? page->front()->title.value_or("") : std::string("-");
}

CurrentLocation Folder(const std::string& url) {
    return CurrentLocation{url, "Folder", false, true};
}

}  // namespace

// The hand-over of parsed pages from the listing worker to the window: one
// page at a time, in order, never a page of a listing the window has left.
class ListingPagesTest : public QObject {
    Q_OBJECT
private slots:
    void pagesComeOutOneAtATimeInOrder() {
        ListingPages pages;
        pages.Restart(4);
        QVERIFY(pages.Offer(5, Page("a", 3)));
        QVERIFY(pages.Offer(5, Page("b", 3)));
        QVERIFY(pages.Offer(5, Page("c", 1)));
        QCOMPARE(FirstTitle(pages.Take()), std::string("a0"));
        QCOMPARE(FirstTitle(pages.Take()), std::string("b0"));
        QVERIFY(pages.HasPages());
        QCOMPARE(FirstTitle(pages.Take()), std::string("c0"));
        QVERIFY(!pages.HasPages());
        QVERIFY(!pages.Take());
    }

    // Which pages count after the window restarted at generation 7 (a
    // listing or a search begins while the shared list is at 7; the worker
    // empties it, so the new listing's pages are 8 or newer).
    void stalePagesAreDropped_data() {
        QTest::addColumn<quint64>("generation");
        QTest::addColumn<bool>("kept");
        QTest::newRow("the left listing's page") << quint64(7) << false;
        QTest::newRow("an even older page") << quint64(3) << false;
        QTest::newRow("the new listing's page") << quint64(8) << true;
        QTest::newRow("a listing restarted again") << quint64(9) << true;
    }
    void stalePagesAreDropped() {
        QFETCH(quint64, generation);
        QFETCH(bool, kept);
        ListingPages pages;
        QVERIFY(pages.Offer(7, Page("old", 2)));  // before the restart: queued
        pages.Restart(7);
        QVERIFY(!pages.HasPages());  // the restart dropped it
        QCOMPARE(pages.Offer(generation, Page("p", 2)), kept);
        QCOMPARE(pages.HasPages(), kept);
        QCOMPARE(pages.IsCurrent(generation), kept);
    }

    // A listing that restarted by itself (the worker emptied the list again)
    // makes the pages of the earlier attempt stale, queued or on their way.
    void aNewerListingDropsTheOlderPages() {
        ListingPages pages;
        pages.Restart(1);
        QVERIFY(pages.Offer(2, Page("first try", 2)));
        QVERIFY(pages.Offer(3, Page("second try", 2)));
        QCOMPARE(FirstTitle(pages.Take()), std::string("second try0"));
        QVERIFY(!pages.HasPages());
        QVERIFY(!pages.Offer(2, Page("late", 1)));
        QVERIFY(!pages.IsCurrent(2));
    }

    // The end of a listing (or of a search) is handed out only behind its
    // pages, so the window stops "Processing" when the last row is in.
    void theEndWaitsForThePages() {
        ListingPages pages;
        pages.Restart(0);
        QVERIFY(pages.Offer(1, Page("a", 2)));
        pages.End(PagesEnd{Folder("https://docs.test/a")});
        QVERIFY(!pages.TakeEnd());
        QVERIFY(pages.Take());
        const std::optional<PagesEnd> end = pages.TakeEnd();
        QVERIFY(end && end->listed);
        QCOMPARE(end->listed->url, std::string("https://docs.test/a"));
        QVERIFY(!pages.TakeEnd());  // handed out once

        pages.End(PagesEnd{});  // a search: no location
        const std::optional<PagesEnd> search = pages.TakeEnd();
        QVERIFY(search && !search->listed);
    }

    void aRestartForgetsAnEndNotHandedOut() {
        ListingPages pages;
        QVERIFY(pages.Offer(1, Page("a", 1)));
        pages.End(PagesEnd{Folder("https://docs.test/a")});
        pages.Restart(1);
        QVERIFY(!pages.TakeEnd());
        QVERIFY(!pages.Take());
    }
};

QTEST_GUILESS_MAIN(ListingPagesTest)
#include "ListingPagesTest.moc"
