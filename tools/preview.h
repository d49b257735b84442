// What a settings file makes of received bytes, in `preview`'s words: shared
// by `preview` (bytes given) and `listen` (bytes from the port).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "keymap/active_layout.h"
#include "keymap/scan_text.h"
#include "serial/scan_shaping.h"

struct PreviewSetup {
    ScanRules rules;
    const LayoutPlans* plans;  // the active layout's; null: the file's keyboard table
};

// Loads the general settings and the keyboard table from the settings path,
// as the program does when reception starts. A few kilobytes: on the heap.
std::unique_ptr<PreviewSetup> LoadPreviewSetup();

// ScanOutput that appends each item to the std::vector<ScanItem> `context`.
void CollectScanItem(void* context, const ScanItem& item);

// The items of a scan described: one line each appended to `lines` (unless
// null), and the text they type returned ("LOT{Space}L0-T{Tab}").
std::string DescribeTyped(const PreviewSetup& setup, const std::vector<ScanItem>& items,
                          std::string* lines);
