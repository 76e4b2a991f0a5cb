// Writes the zstd copies and patches of a release's files and announces them on their list entries.
#pragma once

#include <string>
#include <vector>

#include "manifest/update_list.h"
#include "publisher/release_files.h"

namespace velmora::publisher {

// An earlier release: the folder its files lie in, as build wrote them, and
// its list's entries.
struct EarlierRelease {
  std::u16string folder;
  manifest::FileTable files;
};

// The folder that holds the list file `listPath`.
std::u16string FolderOfList(const std::u16string& listPath);

// Reads UpdateList.xml of each release folder of `folders`; one that does not
// read is an error. True when all were read.
bool ReadEarlierReleases(const std::vector<std::u16string>& folders, std::vector<EarlierRelease>* releases,
                         Messages* messages);

// For every entry of `files`, whose file lies in `out` with its size and
// Sha256 recorded: writes NAME.zst (zstd at `level`) and keeps it, announced
// on the entry, only when smaller than the file. For each earlier version of
// a file whose bytes lie in an earlier release and match its list (for a
// package, its zip, which clients keep as installed last), writes
// NAME.<first 16 hex digits of their Sha256>.zpatch, kept and announced only
// when smaller than the copy a client would fetch otherwise. A name that is
// taken or refused is passed over with a warning. False with an error when a
// file cannot be written.
bool WriteCompressedFiles(const std::u16string& out, const std::vector<EarlierRelease>& earlier, int level,
                          manifest::FileTable* files, Messages* messages);

}  // namespace velmora::publisher
