// The HTML fit report: one self-contained page (the chart library, its style
// sheet and every number inline) that opens offline and prints.
#ifndef CFIT_TOOLS_CFIT_REPORT_HTML_H
#define CFIT_TOOLS_CFIT_REPORT_HTML_H

#include <filesystem>
#include <string>

#include "report_data.h"

namespace cfit_tool {

std::string ReportHtml(const ReportData& report);

// Writes the page; throws a Failure when the file cannot be written.
void WriteReport(const ReportData& report, const std::filesystem::path& path);

}  // namespace cfit_tool

#endif  // CFIT_TOOLS_CFIT_REPORT_HTML_H
