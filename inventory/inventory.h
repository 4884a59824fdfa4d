// A whole zeblix-inventory run: the paths named (and those read from --files-from) walked in
// order, their files scanned on the jobs asked for, the lines written to standard output.
#pragma once

#include <string_view>

#include "inventory/options.h"
#include "inventory/ordered_scan.h"
#include "walk/tree_walk.h"
#include "walk/read_ahead.h"

// Returns the exit status: 0 when every file was read, 1 when some could not be (or the lines
// could not all be written, or the output could not be made), 2 when the list of --files-from
// cannot be opened.
// `tool_version` is the version a CycloneDX document names the tool by.
int RunInventory(const Options& options, std::string_view tool_version);

// The cache --cache names, for scans under `options`; nullptr without --cache, or, with a one-line
// `warning`, when it cannot be used (the run goes on without it).
std::unique_ptr<ItemCache> OpenCache(const Options& options, std::string& warning);

// What items are scanned with under `options`, their lines made by `writer`; `read_ahead` (may
// be null) reads ahead for cold disks.
ScanSettings SettingsOf(const Options& options, const LineWriter& writer, bool progress_shown,
                        ReadAhead* read_ahead);

// Walks and scans what `options` name (`list`: the descriptor of --files-from, or -1), handing
// each item to `sink` in walk order, and never the files `skip` names; stops early once
// options.archive_limits.cancel is set. What the walk passed over comes back.
PassedOver WalkAndScan(const Options& options, const ScanSettings& settings, int list,
                       const OrderedScan::Sink& sink, std::vector<WalkOptions::Skipped> skip);
