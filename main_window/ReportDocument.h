// The report's text and formats put into a rich-text document, the one that is
// printed.
#pragma once

#include <string_view>
#include <vector>

#include "main_window/core/Report.h"

class QTextDocument;

namespace moatgate {

// Replaces the document's text and sets the formats on it in order, each one
// changing only the attributes it names.
void FillReportDocument(QTextDocument& document, std::u16string_view text, const std::vector<ReportFormat>& formats);

}  // namespace moatgate
