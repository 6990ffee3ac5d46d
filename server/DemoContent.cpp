#include "DemoContent.h"

#include <cstdio>
#include <string>

#include "PngImage.h"
#include "Server.h"
#include "Store.h"

namespace tallowdesk::server {

namespace {

constexpr const char* kSeededKey = "demo-seeded";
constexpr const char* kColleagueEmail = "robin@tallowdesk.test";
constexpr const char* kColleaguePassword = "tallowdesk-robin";
// 2026-01-05T09:00:00Z; entries step back an hour each from there.
constexpr std::int64_t kBaseTime = 1767603600000;

std::string Picture(const std::string& word, std::uint32_t sky, std::uint32_t ground) {
    PngImage image(96, 64, sky);
    image.Fill(0, 40, 96, 24, ground);
    image.Fill(64, 8, 16, 16, 0xFFD166);
    image.Text(4, 46, word, 2, 0xFFFFFF);
    return image.Encode();
}

std::string Pdf(const std::string& line) {
    const std::string stream = "BT /F1 18 Tf 72 720 Td (" + line + ") Tj ET";
    const std::string objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
        "/Resources << /Font << /F1 5 0 R >> >> >>",
        "<< /Length " + std::to_string(stream.size()) + " >>\nstream\n" + stream + "\nendstream",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>",
    };
    std::string pdf = "%PDF-1.4\n";
    std::string xref = "xref\n0 6\n0000000000 65535 f \n";
    int number = 1;
    for (const auto& object : objects) {
        char offset[32];
        std::snprintf(offset, sizeof offset, "%010zu 00000 n \n", pdf.size());
        xref += offset;
        pdf += std::to_string(number++) + " 0 obj\n" + object + "\nendobj\n";
    }
    const std::size_t xrefAt = pdf.size();
    pdf += xref + "trailer\n<< /Size 6 /Root 1 0 R >>\nstartxref\n" + std::to_string(xrefAt) +
           "\n%%EOF\n";
    return pdf;
}

std::string EmptyZip() {
    return std::string("PK\x05\x06", 4) + std::string(18, '\0');
}

class Seeder {
public:
    Seeder(Store& store, std::string owner) : m_store(store), m_owner(std::move(owner)) {}

    std::string Add(const std::string& kind, const std::string& title, const std::string& mime,
                    std::vector<std::string> parents, std::optional<std::string> content,
                    bool starred = false, bool trashed = false) {
        NewEntry n;
        n.kind = kind;
        n.title = title;
        n.mime = mime;
        n.parents = std::move(parents);
        n.content = std::move(content);
        n.starred = starred;
        n.trashed = trashed;
        n.viewed = !trashed;
        n.time = kBaseTime - 3600000 * m_step++;
        return m_store.Create(m_owner, n).id;
    }
    std::string Folder(const std::string& title, std::vector<std::string> parents = {},
                       bool starred = false) {
        return Add("folder", title, "", std::move(parents), std::nullopt, starred);
    }

private:
    Store& m_store;
    std::string m_owner;
    std::int64_t m_step = 0;
};

}  // namespace

void SeedDemoContent(Store& store) {
    if (store.Meta(kSeededKey)) return;
    if (!store.AccountExists(kDemoEmail)) store.AddAccount(kDemoEmail, kDemoPassword, "Demo User");
    if (!store.AccountExists(kColleagueEmail)) {
        store.AddAccount(kColleagueEmail, kColleaguePassword, "Robin Ashby");
    }

    Seeder demo(store, kDemoEmail);
    const auto projects = demo.Folder("Projects", {}, true);
    const auto shed = demo.Folder("Garden Shed", {projects});
    const auto website = demo.Folder("Website", {projects});
    const auto photos = demo.Folder("Photos");
    const auto logs = demo.Folder("Server Logs 2025");

    demo.Add("document", "Meeting notes", "", {},
             "<html><body><h1>Meeting notes</h1><p>Agreed: ship the new list view in March."
             "</p></body></html>",
             true);
    demo.Add("spreadsheet", "Budget 2026", "", {},
             "Item,Q1,Q2\nRent,3000,3000\nTravel,450,620\nSoftware,199,199\n", true);
    demo.Add("presentation", "Quarterly review", "", {},
             "<html><body><h1>Quarterly review</h1><ol><li>Revenue</li><li>Hiring</li></ol>"
             "</body></html>");
    demo.Add("drawing", "Office floor plan", "", {},
             "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='120'>"
             "<rect x='10' y='10' width='180' height='100' fill='none' stroke='black'/></svg>");
    demo.Add("pdf", "Invoice 2041.pdf", "application/pdf", {}, Pdf("Invoice 2041: 120.00 EUR"));
    demo.Add("file", "readme.txt", "text/plain", {},
             "Files in this account are demo content of the local document service.\n");
    demo.Add("file", "backup.zip", "application/zip", {}, EmptyZip());

    demo.Add("document", "Shed plan", "", {shed, website},
             "<html><body><h1>Shed plan</h1><p>2.4 m by 1.8 m, felt roof.</p></body></html>");
    demo.Add("spreadsheet", "Materials", "", {shed},
             "Material,Amount\nTimber 47x75,24\nRoof felt,2\nScrews,400\n");
    demo.Add("drawing", "Shed elevation", "", {shed},
             "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'>"
             "<polygon points='10,50 50,10 90,50' fill='brown'/></svg>");
    demo.Add("presentation", "Launch review", "", {website},
             "<html><body><h1>Launch review</h1></body></html>");
    demo.Add("file", "mockup.png", "image/png", {website}, Picture("WEB", 0x3A6EA5, 0x2F4858),
             true);
    demo.Add("file", "sunset.png", "image/png", {photos}, Picture("SUNSET", 0xF28C28, 0x6B3E26));
    demo.Add("file", "harbour.png", "image/png", {photos}, Picture("HARBOUR", 0x8EC5FC, 0x1B4965));
    demo.Add("file", "Photo credits.txt", "text/plain", {photos}, "All photos: Demo User.\n");

    const auto oldStuff = demo.Add("folder", "Old stuff", "", {}, std::nullopt, false, true);
    demo.Add("document", "Old draft", "", {oldStuff},
             "<html><body><p>Superseded.</p></body></html>", false, true);
    demo.Add("file", "obsolete.txt", "text/plain", {}, "No longer needed.\n", false, true);

    for (int i = 1; i <= 250; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "log-%03d.txt", i);
        demo.Add(
            "file", name, "text/plain", {logs},
            std::string("2025-01-01 00:00:00 service started, run ") + std::to_string(i) + "\n");
    }

    Seeder robin(store, kColleagueEmail);
    const auto handbook = robin.Folder("Team handbook");
    robin.Add("document", "Holiday policy", "", {handbook},
              "<html><body><h1>Holiday policy</h1><p>25 days a year.</p></body></html>");
    robin.Add("file", "team-photo.png", "image/png", {handbook},
              Picture("TEAM", 0x6A994E, 0x386641));
    const auto agenda = robin.Add("document", "Robin's agenda", "", {},
                                  "<html><body><p>1. Roadmap 2. Budget</p></body></html>");
    const auto figures =
        robin.Add("spreadsheet", "Sales figures", "", {}, "Month,Sales\nJan,120\nFeb,135\n");
    store.AddAclRule(handbook, "user", kDemoEmail, "reader");
    store.AddAclRule(agenda, "user", kDemoEmail, "writer");
    store.AddAclRule(figures, "user", kDemoEmail, "reader");

    store.SetMeta(kSeededKey, "1");
}

}  // namespace tallowdesk::server
