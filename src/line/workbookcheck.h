#pragma once

#include <QString>

// Whether a workbook file is whole: its zip ends in the directory of what it
// holds, and the sheet's XML, unpacked, ends as a sheet does. The library
// that writes workbooks does not notice every failed write of its temporary
// files (a full disk): a sheet cut short is still packed into a valid zip.
namespace WorkbookCheck {

bool complete(const QString &fileName);

} // namespace WorkbookCheck
