// The values an update run derives once from its command line and its folder.
#include "driver/run_values.h"

#include "platform/encoding.h"

namespace velmora::driver {

RunValues DeriveRunValues(const std::u16string& baseUrlArgument, const std::u16string& installFolder) {
  RunValues values;
  values.baseUrl = platform::WideToUtf8(baseUrlArgument);
  if (values.baseUrl.empty() || values.baseUrl.back() != '/') values.baseUrl += '/';
  values.listUrl = values.baseUrl + platform::WideToUtf8(layout::kLocalListName);
  values.paths = layout::PathsOf(installFolder);
  return values;
}

}  // namespace velmora::driver
