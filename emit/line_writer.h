// The lines zeblix-inventory writes: one per record, one for a file that holds none (with
// --empty), one for a path that could not be read; as JSON Lines, as RFC 4180 CSV with the same
// columns, or as the components of a CycloneDX document. A writer makes the lines of one format;
// whoever scans hands it what was found and never asks which format it is.
//
// A record found inside an archive carries `member`, the names of the members it lies in, from
// the outermost archive inward; `path` stays the archive file on disk. A line inside a package
// carries `package`, the innermost package's identity, and one inside an image `image`.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "archive/identity.h"
#include "emit/line_place.h"
#include "zeblix/scan.h"

enum class OutputFormat { kJsonLines, kCsv, kCycloneDx };

// The lines of one item: those at the top of the output, and, in a document that nests
// components, those waiting to go inside a package's or image's.
struct ItemLines {
  std::string top;
  std::map<Nest, std::string> nested;
  // The component of the package or image a run about one file was about, if any.
  std::string subject;

  std::string& At(Nest nest) { return nest.holder < 0 ? top : nested[nest]; }
};

// Record, Empty, Error and Holder may be called from any thread at once; Begin, Next and End in
// the order of the output, from one thread at a time.
class LineWriter {
 public:
  virtual ~LineWriter() = default;

  // What the output begins with: a header row, a document's head, or nothing.
  virtual std::string Begin() = 0;
  // The line of one record.
  virtual void Record(const zeblix::Record& record, const LinePlace& place,
                      ItemLines& out) const = 0;
  // The line of a file (or member) that was read whole and holds no record.
  virtual void Empty(const LinePlace& place, ItemLines& out) const = 0;
  // The line of a path (or a member of it) that could not be read, with its errno and a message
  // (the errno's text when empty).
  virtual void Error(const LinePlace& place, int error, std::string_view message,
                     ItemLines& out) const = 0;
  // Whether errors have a line of their own in the output.
  virtual bool WritesErrors() const = 0;
  // A package or image that holds others: after the lines inside it, which wait at `own`. With
  // `subject`, it is what the run was about.
  virtual void Holder(const ::Holder& holder, const LinePlace& place, Nest own, bool subject,
                      ItemLines& out) const = 0;
  // An item's lines as they follow those written before them.
  virtual std::string_view Next(std::string_view lines) = 0;
  // What the output ends with; `subject` is the one a run's items gave, if any.
  virtual std::string End(std::string_view tool_version, std::string_view subject) = 0;
};

// A format with a line for everything and nothing around them (JSON Lines, CSV): no document to
// begin or end, errors written, packages and images only in the lines inside them.
class FlatLineWriter : public LineWriter {
 public:
  std::string Begin() override { return {}; }
  bool WritesErrors() const override { return true; }
  void Holder(const ::Holder&, const LinePlace&, Nest, bool, ItemLines&) const override {}
  std::string_view Next(std::string_view lines) override { return lines; }
  std::string End(std::string_view, std::string_view) override { return {}; }
};

std::unique_ptr<LineWriter> MakeLineWriter(OutputFormat format);
std::unique_ptr<LineWriter> MakeJsonLinesWriter();
std::unique_ptr<LineWriter> MakeCsvWriter();
std::unique_ptr<LineWriter> MakeCycloneDxWriter();
