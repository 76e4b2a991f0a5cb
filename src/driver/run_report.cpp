// Turns the outcomes of a run into the fixed lines of the log, through one table.
#include "driver/run_report.h"

#include <ctime>
#include <string>

#include "diagnostics/logger.h"
#include "diagnostics/messages.h"
#include "manifest/status_document.h"
#include "platform/file_ops.h"
#include "platform/encoding.h"
#include "platform/paths.h"

namespace velmora::driver {
namespace {

namespace msg = diagnostics;

enum class Level { kDebug, kInfo, kError };
// What follows the fixed text on its line.
enum class Tail { kNothing, kName, kPath, kSize };

struct Row {
  OutcomeKind kind;
  Level level;
  const char* text;  // null: the kind writes no line
  Tail tail;
  const char* identifier;
};

// clang-format off
constexpr Row kRows[] = {
    {OutcomeKind::kContinue,             Level::kInfo,  nullptr,                       Tail::kNothing, ""},
    {OutcomeKind::kRestored,             Level::kInfo,  msg::kRestoredPrefix,          Tail::kPath,    ""},
    {OutcomeKind::kJournalLineIgnored,   Level::kDebug, "journal line ignored: ",      Tail::kName,    ""},
    {OutcomeKind::kFetchTotals,          Level::kDebug, "bytes on the wire / of files written: ", Tail::kName, ""},
    {OutcomeKind::kFellBack,             Level::kDebug, "patch or compressed copy failed, fetched the next way: ", Tail::kName, ""},
    {OutcomeKind::kSystemProxy,          Level::kDebug, "system proxy: ",              Tail::kName,    ""},
    {OutcomeKind::kNoUpdateKey,          Level::kInfo,  msg::kNoUpdateKey,             Tail::kNothing, ""},
    {OutcomeKind::kHostStopFailed,       Level::kError, msg::kTerminateHostFailed,     Tail::kNothing, ""},
    {OutcomeKind::kHostStarted,          Level::kInfo,  "",                            Tail::kPath,    ""},
    {OutcomeKind::kSelfUpdateStarted,    Level::kInfo,  msg::kSelfUpdateStarted,       Tail::kNothing, ""},
    {OutcomeKind::kSelfDownloadFinished, Level::kInfo,  msg::kSelfDownloadFinished,    Tail::kNothing, ""},
    {OutcomeKind::kSelfReplaced,         Level::kInfo,  msg::kSelfReplaced,            Tail::kNothing, ""},
    {OutcomeKind::kSelfVersionRecorded,  Level::kInfo,  msg::kSelfVersionRecorded,     Tail::kNothing, ""},
    {OutcomeKind::kUpdated,              Level::kInfo,  msg::kUpdateFinished,          Tail::kNothing, "updated"},
    {OutcomeKind::kSelfRestarted,        Level::kInfo,  msg::kSelfRestarted,           Tail::kNothing, "self-updated"},
    {OutcomeKind::kNotModified,          Level::kInfo,  msg::kNoUpdateNeeded,          Tail::kNothing, "up-to-date"},
    {OutcomeKind::kUpToDate,             Level::kInfo,  msg::kNoUpdateNeeded,          Tail::kNothing, "up-to-date"},
    {OutcomeKind::kUpdateAvailable,      Level::kInfo,  nullptr,                       Tail::kNothing, "update-available"},
    {OutcomeKind::kListDownloadFailed,   Level::kError, msg::kListDownloadFailed,      Tail::kNothing, "list-download-failed"},
    {OutcomeKind::kListUnreadable,       Level::kError, msg::kListParseFailed,         Tail::kNothing, "list-invalid"},
    {OutcomeKind::kApplicationMissing,   Level::kError, msg::kApplicationParseFailed,  Tail::kNothing, "list-invalid"},
    {OutcomeKind::kSignatureRefused,     Level::kError, msg::kSignatureCheckFailed,    Tail::kNothing, "signature-refused"},
    {OutcomeKind::kUpdateKeyUnreadable,  Level::kError, msg::kUpdateKeyUnreadable,     Tail::kNothing, "update-key-unreadable"},
    {OutcomeKind::kListExpired,          Level::kError, msg::kListExpired,             Tail::kNothing, "list-expired"},
    {OutcomeKind::kNothingToUpdate,      Level::kError, msg::kNothingToUpdate,         Tail::kNothing, "nothing-to-update"},
    {OutcomeKind::kLocalListUnreadable,  Level::kError, msg::kLocalListOpenFailed,     Tail::kNothing, "local-list-invalid"},
    {OutcomeKind::kLocalListNoRoot,      Level::kError, msg::kRootNodeMissing,         Tail::kNothing, "local-list-invalid"},
    {OutcomeKind::kLocalListNoFiles,     Level::kError, msg::kFilesNodeMissing,        Tail::kNothing, "local-list-invalid"},
    {OutcomeKind::kDownloadFailed,       Level::kError, msg::kDownloadFailedPrefix,    Tail::kName,    "download-failed"},
    {OutcomeKind::kSizeMismatch,         Level::kError, msg::kSizeCheckPrefix,         Tail::kSize,    "size-mismatch"},
    {OutcomeKind::kHashMismatch,         Level::kError, msg::kHashCheckFailedPrefix,   Tail::kName,    "hash-mismatch"},
    {OutcomeKind::kSelfDownloadFailed,   Level::kError, msg::kDownloadFailedPrefix,    Tail::kName,    "download-failed"},
    {OutcomeKind::kSelfSizeMismatch,     Level::kError, msg::kSelfSizeCheckFailed,     Tail::kNothing, "size-mismatch"},
    {OutcomeKind::kSelfHashMismatch,     Level::kError, msg::kHashCheckFailedPrefix,   Tail::kName,    "hash-mismatch"},
    {OutcomeKind::kSelfReplaceFailed,    Level::kError, msg::kSelfReplaceFailed,       Tail::kNothing, "replace-failed"},
    {OutcomeKind::kUnpackFailed,         Level::kError, msg::kUnpackFailedPrefix,      Tail::kPath,    "unpack-failed"},
    {OutcomeKind::kPlaceFailed,          Level::kError, msg::kReplaceFailedPrefix,     Tail::kPath,    ""},
    {OutcomeKind::kSaveFailed,           Level::kError, msg::kSaveFailed,              Tail::kNothing, ""},
    {OutcomeKind::kRolledBack,           Level::kError, msg::kRunRolledBack,           Tail::kNothing, "rolled-back"},
    {OutcomeKind::kRollbackFailed,       Level::kError, msg::kRollbackFailedPrefix,    Tail::kPath,    "rollback-failed"},
    {OutcomeKind::kStartFailed,          Level::kError, msg::kStartFailedPrefix,       Tail::kPath,    "start-failed"},
    {OutcomeKind::kAlreadyRunning,       Level::kError, msg::kAlreadyRunning,          Tail::kNothing, "busy"},
    {OutcomeKind::kWrongArgumentCount,   Level::kError, msg::kWrongArgumentCount,      Tail::kNothing, "bad-arguments"},
    {OutcomeKind::kBadArguments,         Level::kError, msg::kBadArguments,            Tail::kNothing, "bad-arguments"},
    {OutcomeKind::kModuleFolderUnknown,  Level::kError, msg::kModuleFolderUnknown,     Tail::kNothing, "no-folder"},
    {OutcomeKind::kFolderCreateFailed,   Level::kError, msg::kFolderCreateFailed,      Tail::kNothing, "no-folder"},
};
// clang-format on

const Row& RowOf(OutcomeKind kind) {
  for (const Row& row : kRows) {
    if (row.kind == kind) return row;
  }
  return kRows[0];
}

// A list name as the log has always shown it: doubled backslashes as one.
std::string CollapsedName(std::string name) {
  platform::ReplaceAll(name, "\\\\", "\\");
  return name;
}

std::string CodeText(const Outcome& outcome) {
  switch (outcome.codeKind) {
    case CodeKind::kNone: break;
    case CodeKind::kHttp: return "HTTP status " + std::to_string(outcome.code);
    case CodeKind::kTransfer: return "transfer error " + std::to_string(outcome.code);
    case CodeKind::kSystem: return "system error " + std::to_string(outcome.code);
  }
  return std::string();
}

void Write(Level level, const std::string& line) {
  diagnostics::LogCategory& log = diagnostics::Logger::Instance().category;
  switch (level) {
    case Level::kDebug: log.debug(line); break;
    case Level::kInfo: log.info(line); break;
    case Level::kError: log.error(line); break;
  }
}

// The current time in UTC, as the status file writes it.
std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  char text[32] = "";
  if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

const char* CodeKindName(CodeKind kind) {
  switch (kind) {
    case CodeKind::kNone: break;
    case CodeKind::kHttp: return "http";
    case CodeKind::kTransfer: return "transfer";
    case CodeKind::kSystem: return "system";
  }
  return "";
}

}  // namespace

RunReport::RunReport() : started_(UtcNow()) {}

void RunReport::Note(const Outcome& outcome) {
  const Row& row = RowOf(outcome.kind);
  if (row.text == nullptr) return;
  std::string line = row.text;
  switch (row.tail) {
    case Tail::kNothing: break;
    case Tail::kName: line += CollapsedName(outcome.name); break;
    case Tail::kPath: line += platform::WideToGbk(outcome.path); break;
    case Tail::kSize: line += std::to_string(outcome.size) + diagnostics::kSizeCheckSuffix; break;
  }
  Write(row.level, line);
  const std::string code = CodeText(outcome);
  if (!code.empty()) diagnostics::Logger::Instance().category.debug(code);
}

void RunReport::End(const Outcome& outcome) {
  Note(outcome);
  final_ = outcome;
}

const char* RunReport::IdentifierOf(OutcomeKind kind) { return RowOf(kind).identifier; }

bool RunReport::WriteStatus(const std::u16string& path, const std::u16string& temporary) const {
  manifest::RunStatus status;
  status.outcome = IdentifierOf(final_.kind);
  const Row& row = RowOf(final_.kind);
  if (row.text != nullptr) status.message = platform::WideToUtf8(platform::GbkToWide(row.text));
  status.installedVersion = facts_.installedVersion;
  status.remoteVersion = facts_.remoteVersion;
  status.file = final_.path.empty() ? final_.name : platform::WideToUtf8(final_.path);
  status.codeKind = CodeKindName(final_.codeKind);
  status.code = final_.code;
  status.started = started_;
  status.ended = UtcNow();
  status.bytesDownloaded = facts_.bytesDownloaded;
  status.bytesWritten = facts_.bytesWritten;
  status.listTimestamp = facts_.listTimestamp;
  status.fileCount = facts_.fileCount;
  status.downloadSize = facts_.downloadSize;
  return platform::ReplaceFileContent(path, temporary, manifest::StatusText(status));
}

std::string RunReport::Summary() const {
  std::string line = IdentifierOf(final_.kind);
  if (final_.kind == OutcomeKind::kUpdateAvailable) {
    line += " " + facts_.remoteVersion + " " + std::to_string(facts_.fileCount) + " files " +
            std::to_string(facts_.downloadSize) + " bytes";
  } else if (!facts_.installedVersion.empty()) {
    line += " " + facts_.installedVersion;
  }
  return line;
}


}  // namespace velmora::driver
