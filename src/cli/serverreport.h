#pragma once

class QIODevice;
struct ReportArguments;

// "lorta-flash-cli report --db": the floor's server read through its views,
// printed as tables or as one JSON line per day and bench, and the range's
// records into a workbook with --xlsx. The exit status: 0 read, 1 the server
// or the workbook failed.
int runServerReport(const ReportArguments &arguments, QIODevice *out, QIODevice *err);
