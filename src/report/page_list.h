#pragma once

#include <QString>
#include <vector>

namespace vorncom::report {

// Which pages of a report of `page_count` pages to print, in print order, numbered from 1.
//
// `page_list` holds numbers and ranges separated by commas or semicolons ("1, 3, 5", "5-12");
// an open range "5-" runs to the last page. When it is blank, pages `first` to `last` are printed
// (clamped to the report). Numbers outside the report are dropped; a list that cannot be read, or
// that selects nothing, prints the whole report rather than nothing.
std::vector<int> SelectPages(int page_count, int first, int last, const QString& page_list);

}  // namespace vorncom::report
