// Finds minisign secret keys among the files of a release, so that a signing key is never published.
#pragma once

#include <string>
#include <vector>

#include "publisher/release_files.h"

namespace velmora::publisher {

// Why a file counts as a secret key, or kNone.
enum class SecretFile { kNone, kNamedLikeKey, kHoldsKey, kUnreadable };

// Judges the file at `path` whose release name is `name`: kNamedLikeKey for a
// name ending ".key" in any letter case, kHoldsKey when its first few KiB
// read as a minisign secret key, kUnreadable when it cannot be read.
SecretFile JudgeSecretFile(const std::u16string& path, const std::string& name);

// One line naming `name` and saying what `judgement` found; empty for kNone.
std::string DescribeSecretFile(SecretFile judgement, const std::string& name);

// Adds an error for every file of `files`, and every file a package is made
// of, that JudgeSecretFile does not pass, unless its name relative to the
// application folder is in `allowed` (either separator, any letter case).
// True when nothing was refused.
bool RefuseSecretFiles(const std::vector<ReleaseFile>& files, const std::vector<std::string>& allowed,
                       Messages* messages);

// Adds a problem for every file below `folder` that JudgeSecretFile does not
// pass, named `prefix` + its path relative to `folder` ("\" separators),
// unless that name is in `allowed`. A folder that cannot be read is one too.
void ReportSecretFiles(const std::u16string& folder, const std::string& prefix,
                       const std::vector<std::string>& allowed, std::vector<std::string>* problems);

}  // namespace velmora::publisher
