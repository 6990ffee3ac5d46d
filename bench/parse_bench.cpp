// parse_bench [--entries 1000] [--rounds 7] [--sample FILE]
//
// How fast the client turns a feed page into entry records: the listing's
// path (tinyxml2 parse, then ParseFeedEntries) against a bare tinyxml2 parse
// of the same bytes. The feed is built from the entries of a real document
// list feed (each copy with its own ids and title), so the element and
// attribute mix is the one the service sends. Single-threaded; best of
// several rounds, each long enough to dwarf the clock. Timed with the
// thread's CPU clock, so "per core" holds on a busy machine too.

#include <tinyxml2.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "model/EntryList.h"

namespace {

#ifndef TALLOWDESK_SAMPLE_FEED
#define TALLOWDESK_SAMPLE_FEED "tests/data/doclist-feed-v3.xml"
#endif

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The document key of an entry: what follows "%3A" in its id.
std::string KeyOf(const std::string& entry) {
    const std::string open = "<id>";
    const std::size_t start = entry.find(open);
    const std::size_t colon = entry.find("%3A", start);
    const std::size_t end = entry.find("</id>", colon);
    if (start == std::string::npos || colon == std::string::npos || end == std::string::npos)
        return {};
    return entry.substr(colon + 3, end - colon - 3);
}

std::string TitleOf(const std::string& entry) {
    const std::size_t start = entry.find("<title>");
    const std::size_t end = entry.find("</title>", start);
    if (start == std::string::npos || end == std::string::npos) return {};
    return entry.substr(start + 7, end - start - 7);
}

// A key of the same length as the original, different for every copy.
std::string MakeKey(const std::string& original, int n) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    std::string key = original;
    unsigned value = static_cast<unsigned>(n) * 2654435761u;
    for (std::size_t i = 0; i < key.size() && i < 8; ++i) {
        key[key.size() - 1 - i] = kDigits[value % 62];
        value /= 62;
    }
    return key;
}

// The sample's head (everything before its first entry), then `count`
// entries cycling through the sample's own, then the closing tag.
std::string BuildFeed(const std::string& sample, int count) {
    const std::size_t first = sample.find("<entry");
    const std::size_t closing = sample.rfind("</feed>");
    if (first == std::string::npos || closing == std::string::npos)
        throw std::runtime_error("the sample has no entries");
    std::vector<std::string> shapes;
    for (std::size_t at = first; at < closing;) {
        const std::size_t end = sample.find("</entry>", at);
        if (end == std::string::npos) break;
        shapes.push_back(sample.substr(at, end + 8 - at));
        at = sample.find("<entry", end);
    }
    std::string feed = sample.substr(0, first);
    for (int i = 0; i < count; ++i) {
        std::string entry = shapes[static_cast<std::size_t>(i) % shapes.size()];
        const std::string key = KeyOf(entry);
        ReplaceAll(entry, key, MakeKey(key, i));
        const std::string title = TitleOf(entry);
        ReplaceAll(entry, "<title>" + title + "</title>",
                   "<title>" + title + " " + std::to_string(i + 1) + "</title>");
        feed += entry;
    }
    feed += "</feed>";
    return feed;
}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// CPU seconds per call of `work`, best of `rounds` rounds of at least 0.2 s.
template <typename Work>
double BestSeconds(int rounds, Work&& work) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
        int calls = 0;
        const double start = ThreadCpuSeconds();
        double elapsed = 0;
        do {
            work();
            ++calls;
            elapsed = ThreadCpuSeconds() - start;
        } while (elapsed < 0.2);
        best = std::min(best, elapsed / calls);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    int entries = 1000, rounds = 7;
    std::string samplePath = TALLOWDESK_SAMPLE_FEED;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i];
        if (arg == "--entries") entries = std::max(1, std::atoi(argv[i + 1]));
        if (arg == "--rounds") rounds = std::max(1, std::atoi(argv[i + 1]));
        if (arg == "--sample") samplePath = argv[i + 1];
    }
    try {
        const std::string feed = BuildFeed(ReadFile(samplePath), entries);

        tinyxml2::XMLDocument bare;
        const double bareSeconds = BestSeconds(rounds, [&] {
            if (bare.Parse(feed.data(), feed.size()) != tinyxml2::XML_SUCCESS)
                throw std::runtime_error("the feed does not parse");
        });

        tinyxml2::XMLDocument doc;
        int parsed = 0;
        const double listingSeconds = BestSeconds(rounds, [&] {
            if (doc.Parse(feed.data(), feed.size()) != tinyxml2::XML_SUCCESS)
                throw std::runtime_error("the feed does not parse");
            tallowdesk::EntryList list;
            parsed = tallowdesk::ParseFeedEntries(list, doc);
        });
        if (parsed != entries)
            throw std::runtime_error("ParseFeedEntries found " + std::to_string(parsed) + " of " +
                                     std::to_string(entries) + " entries");

        const double figure = entries / listingSeconds, anchor = entries / bareSeconds;
        std::printf(
            "BENCH | Feed parsing: tinyxml2 parse + ParseFeedEntries, %d entries (%zu KB), one "
            "core, "
            "CPU time | %.0f entries/s (%.2f ms per feed) | bare tinyxml2 parse of the same bytes: "
            "%.0f entries/s (%.2f ms) | %.2f | >= 50,000 entries/s and >= 0.5\n",
            entries, feed.size() / 1000, figure, listingSeconds * 1e3, anchor, bareSeconds * 1e3,
            figure / anchor);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "parse_bench: %s\n", e.what());
        std::printf(
            "BENCH | Feed parsing, %d entries | not measured: %s | | | >= 50,000 entries/s "
            "and >= 0.5\n",
            entries, e.what());
        return 1;
    }
    return 0;
}
