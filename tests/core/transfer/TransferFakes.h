#pragma once

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "TempDir.h"
#include "TestData.h"
#include "transfer/TransferFlags.h"
#include "transfer/TransferOps.h"
#include "transfer/TransferProgressSink.h"

namespace tallowdesk::test {

namespace fs = std::filesystem;

// Scripted service: feed pages by URL, downloads that write the URL into the
// file, uploads and folder creations that answer with an entry. Failures are
// thrown by per-key hooks; `after*` hooks run once an operation succeeded.
struct FakeOps : TransferOps {
    struct Download {
        std::string url, kind;
        fs::path path;
        std::optional<std::string> format;
    };
    struct Upload {
        fs::path path;
        std::string target;
        std::string name;  // empty: the file's own
    };
    struct Replacement {
        fs::path path;
        std::string editMediaUrl;
    };
    struct Folder {
        std::string title, parent;
    };

    std::map<std::string, std::string> pages;
    std::vector<std::string> feedRequests;
    std::vector<Download> downloads;
    std::map<std::string, std::function<void()>> downloadFailures;  // by URL
    std::function<void()> afterDownload;
    std::vector<Upload> uploads;
    std::map<std::string, std::function<void()>> uploadFailures;  // by file name
    std::function<void()> afterUpload;
    std::string uploadedKind = "file";
    std::vector<Replacement> replacements;
    std::vector<Folder> folders;
    std::set<std::string> folderFailures;                 // by title
    std::map<std::string, std::string> folderReplyKinds;  // by title; "folder" otherwise

    void GetFeed(const std::string& url, tinyxml2::XMLDocument& doc) override {
        feedRequests.push_back(url);
        const auto it = pages.find(url);
        if (it == pages.end()) throw std::runtime_error("Get entry list failed");
        doc.Clear();
        ParseXml(doc, it->second);
    }

    void DownloadEntry(const std::string& url, const std::string& kind, const fs::path& path,
                       const std::optional<std::string>& format,
                       TransferProgressSink& sink) override {
        downloads.push_back({url, kind, path, format});
        if (const auto f = downloadFailures.find(url); f != downloadFailures.end()) f->second();
        std::ofstream out(path, std::ios::binary);
        if (!out) throw std::runtime_error("create file failed");
        out << url;
        sink.Progress(url.size(), 0);
        if (afterDownload) afterDownload();
    }

    void UploadFile(const fs::path& path, const std::string& target, const std::string& given,
                    tinyxml2::XMLDocument& reply, TransferProgressSink&) override {
        uploads.push_back({path, target, given});
        const std::string name = path.filename().string();
        if (const auto f = uploadFailures.find(name); f != uploadFailures.end()) f->second();
        const std::string title = given.empty() ? name : given;
        ParseXml(reply, "<entry><title>" + title + "</title><gd:resourceId>" + uploadedKind + ":" +
                            title + "</gd:resourceId></entry>");
        if (afterUpload) afterUpload();
    }

    void ReplaceContent(const fs::path& path, const std::string& editMediaUrl,
                        tinyxml2::XMLDocument& reply, TransferProgressSink&) override {
        replacements.push_back({path, editMediaUrl});
        ParseXml(reply, "<entry><title>" + path.filename().string() + "</title></entry>");
    }

    // The new folder's contents feed is parent + "/" + title, so targets read
    // like paths in the assertions.
    void CreateFolder(const std::string& title, const std::string& parent,
                      tinyxml2::XMLDocument& reply) override {
        folders.push_back({title, parent});
        if (folderFailures.count(title)) throw std::runtime_error("Create folder failed");
        const auto kind = folderReplyKinds.find(title);
        ParseXml(reply, "<entry><title>" + title + "</title><gd:resourceId>" +
                            (kind == folderReplyKinds.end() ? "folder" : kind->second) + ":" +
                            title + "</gd:resourceId><content src='" + parent + "/" + title +
                            "'/></entry>");
    }
};

// Records what a progress window would show.
struct RecordingSink : TransferProgressSink {
    std::vector<std::string> events;  // "current 1", "size 12 Byte", "marquee on", ...
    std::vector<std::string> details;
    std::uint64_t current = 0, total = 0;
    int finished = 0;

    void SetCurrentNumber(std::uint64_t n) override {
        current = n;
        events.push_back("current " + std::to_string(n));
    }
    void SetTotal(std::uint64_t n) override {
        total = n;
        events.push_back("total " + std::to_string(n));
    }
    void SetName(const std::string& text) override { events.push_back("name " + text); }
    void SetSizeText(const std::string& text) override { events.push_back("size " + text); }
    void SetRange(std::uint64_t bytes) override {
        events.push_back("range " + std::to_string(bytes));
    }
    void SetMarquee(bool on) override { events.push_back(on ? "marquee on" : "marquee off"); }
    void Progress(std::uint64_t, std::uint64_t) override {}
    void AddTransferDetail(const std::string& text) override { details.push_back(text); }
    void Finished() override { ++finished; }

    std::vector<std::string> EventsStartingWith(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.rfind(prefix, 0) == 0) out.push_back(e);
        return out;
    }
};

// A fresh temporary directory per test, and clean transfer flags.
class TransferTest : public ::testing::Test {
protected:
    void SetUp() override {
        transferBusy = false;
        transferCancel = false;
    }
    void TearDown() override {
        transferBusy = false;
        transferCancel = false;
    }

    const fs::path& Tmp() const { return m_tmp.Path(); }
    static void WriteFile(const fs::path& path, const std::string& text = "x") {
        WriteAll(path, text);
    }

    FakeOps ops;
    RecordingSink sink;

private:
    TempDir m_tmp;
};

}  // namespace tallowdesk::test
