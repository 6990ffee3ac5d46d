#pragma once

namespace tallowdesk::server {

class Store;

// Fills the store with the demo account and a realistic document list: nested
// folders, every kind of entry with real bytes, starred and trashed items,
// items another account shares, and one folder that needs several feed
// pages. Runs once per data folder; later calls return at once.
void SeedDemoContent(Store& store);

}  // namespace tallowdesk::server
