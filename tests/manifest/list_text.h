// The text of update lists for the list tests.
#pragma once

#include <string>


namespace velmora::manifest::testing {

// A complete list around the given Files content, with application version
// `version` and entry point "TarvikService.exe".
inline std::string ListWithFiles(const std::string& files, const std::string& version = "2.1.0.7") {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<Velmorar>\n"
         "  <Updater><LastUpdateTime>2026-01-02 03:04</LastUpdateTime></Updater>\n"
         "  <Application><Version>" + version + "</Version>"
         "<EntryPoint>TarvikService.exe</EntryPoint></Application>\n"
         "  <Files>" + files + "</Files>\n"
         "</Velmorar>\n";
}

}  // namespace velmora::manifest::testing
