// The JSON report: the run's facts and every row, whatever group examined it. Its shape
// is docs/report.schema.json; kReportSchemaVersion changes whenever that shape changes
// in a way a reader would notice.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "companion/check_result.h"
#include "companion/run_context.h"
#include "platform/failure.h"
#include "platform/text.h"

namespace qtk::companion {

inline constexpr int kReportSchemaVersion = 1;

struct ReportError {
    Failure failure;
    std::wstring description;  // the system's text for failure.code
};

// UTF-8 text of the whole report, ending in a line feed. Names with quotes, control
// characters or characters outside ASCII come through escaped or as UTF-8; a lone
// surrogate, which UTF-8 cannot carry, becomes U+FFFD.
std::string ReportJson(const std::vector<CheckResult>& rows, const RunFacts& facts,
                       int exit_code, const std::optional<ReportError>& error);

// "C:\reports\" + "PC-01" -> "C:\reports\PC-01.json"; characters a file name may not hold
// become '_'.
std::wstring ReportFileInFolder(const std::wstring& folder, const std::wstring& computer_name);

}  // namespace qtk::companion
