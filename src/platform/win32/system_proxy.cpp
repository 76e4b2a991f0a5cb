// The current user's proxy settings, and the proxy that auto-detection or an auto-config script picks, through WinHTTP.
#include "platform/system_proxy.h"

#include "platform/encoding.h"
#include "platform/win32/win32.h"

namespace velmora::platform {

namespace {

// Resolving, connecting to and reading from a WPAD or PAC server; an
// auto-detection that finds none ends within these.
constexpr int kAutoProxyTimeoutMs = 5000;

// WinHTTP hands its strings over to be freed with GlobalFree.
class GlobalText {
 public:
  GlobalText() = default;
  ~GlobalText() {
    if (text_ != nullptr) ::GlobalFree(text_);
  }
  GlobalText(const GlobalText&) = delete;
  GlobalText& operator=(const GlobalText&) = delete;
  LPWSTR* Out() { return &text_; }
  const wchar_t* Get() const { return text_; }
  std::string Utf8() const { return text_ == nullptr ? std::string() : WideToUtf8(win32::FromWide(text_)); }
  bool IsEmpty() const { return text_ == nullptr || text_[0] == L'\0'; }

 private:
  LPWSTR text_ = nullptr;
};

struct InternetHandleTraits {
  static HANDLE Invalid() { return nullptr; }
  static void Close(HANDLE handle) { ::WinHttpCloseHandle(handle); }
};
using InternetHandle = win32::UniqueHandle<InternetHandleTraits>;

enum class AutoProxy { kNamed, kDirect, kUnknown };

// What auto-detection (WPAD) or the auto-config script says for `url`.
AutoProxy AskAutoProxy(const std::u16string& url, bool detect, const wchar_t* configUrl, GlobalText* proxy,
                       GlobalText* bypass) {
  InternetHandle session(::WinHttpOpen(L"Velmora", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                       WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.IsValid()) return AutoProxy::kUnknown;
  ::WinHttpSetTimeouts(session.Get(), kAutoProxyTimeoutMs, kAutoProxyTimeoutMs, kAutoProxyTimeoutMs,
                       kAutoProxyTimeoutMs);
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (detect) {
    options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  if (configUrl != nullptr) {
    options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = configUrl;
  }
  // A script whose server asks who is calling gets the user's logon.
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  const BOOL answered = ::WinHttpGetProxyForUrl(session.Get(), win32::AsWide(url), &options, &info);
  // The strings are ours even when the answer is "direct".
  *proxy->Out() = info.lpszProxy;
  *bypass->Out() = info.lpszProxyBypass;
  if (!answered) return AutoProxy::kUnknown;
  return info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY ? AutoProxy::kNamed : AutoProxy::kDirect;
}

}  // namespace

bool GetSystemProxyFor(const std::string& url, SystemProxy* out) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
  if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return false;
  GlobalText configUrl, staticProxy, staticBypass;
  *configUrl.Out() = config.lpszAutoConfigUrl;
  *staticProxy.Out() = config.lpszProxy;
  *staticBypass.Out() = config.lpszProxyBypass;

  if (config.fAutoDetect || !configUrl.IsEmpty()) {
    GlobalText proxy, bypass;
    const wchar_t* script = configUrl.IsEmpty() ? nullptr : configUrl.Get();
    switch (AskAutoProxy(Utf8ToWide(url), config.fAutoDetect != FALSE, script, &proxy, &bypass)) {
      case AutoProxy::kNamed:
        return ChooseProxyFor(url, proxy.Utf8(), bypass.Utf8(), out);
      case AutoProxy::kDirect:
        return false;
      case AutoProxy::kUnknown:
        break;  // nothing detected, or no script: the static setting, as browsers do
    }
  }
  return ChooseProxyFor(url, staticProxy.Utf8(), staticBypass.Utf8(), out);
}

}  // namespace velmora::platform
