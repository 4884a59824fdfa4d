#include "emit/line_writer.h"

std::unique_ptr<LineWriter> MakeLineWriter(OutputFormat format) {
  switch (format) {
    case OutputFormat::kCsv:
      return MakeCsvWriter();
    case OutputFormat::kCycloneDx:
      return MakeCycloneDxWriter();
    case OutputFormat::kJsonLines:
      break;
  }
  return MakeJsonLinesWriter();
}
