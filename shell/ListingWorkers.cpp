#include "ListingWorkers.h"

#include "AppState.h"
#include "Worker.h"

namespace tallowdesk::shell {
namespace {

// The listing worker's reports, turned into the list view's messages.
class PortSink : public ListingSink {
public:
    PortSink(ListViewPort port, const EntryList& entries)
        : m_port(std::move(port)), m_entries(entries) {}
    void ResetList() override { m_port.ListingReset(); }
    void EntriesAdded(std::uint64_t generation, std::size_t firstIndex) override {
        // The worker appended this page just now and nothing else appends to
        // the list meanwhile (uploads go in front): from firstIndex on, the
        // appended records are the page. The window gets the records
        // themselves and never reads the shared list for them.
        EntryPage page = m_entries.AppendedSince(generation, firstIndex);
        if (!page.empty()) m_port.EntryItemsAdded(generation, std::move(page));
    }
    void ListingFailed(const std::string& reason) override { m_failure = reason; }
    void ListingFinished(const CurrentLocation& location) override {
        m_port.ListingFinished(m_entries.Generation(), location, m_failure);
    }

private:
    ListViewPort m_port;
    const EntryList& m_entries;
    std::optional<std::string> m_failure;
};

}  // namespace

void StartListingWorker(std::shared_ptr<AppState> state, ListViewPort list) {
    struct Block {
        std::shared_ptr<AppState> state;
        FeedFetcher fetch;
        ListViewPort view;
    };
    FeedFetcher fetch = state->calls.getFeed;
    StartWorker(std::make_unique<Block>(Block{std::move(state), std::move(fetch), list}),
                [](Block& b) {
                    PortSink sink(b.view, b.state->entries);
                    RunListing(b.state->listing, b.state->entries, b.fetch, sink);
                });
}

}  // namespace tallowdesk::shell
