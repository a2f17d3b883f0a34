#include "app/com/error_info_win.h"

#include "base/raii_win.h"
#include "base/text_win.h"

namespace qz::win {

HRESULT ReportError(REFIID iid, std::int32_t number, const std::string& source,
                    const std::string& description) {
  ComPtr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.Put()))) {
    const std::wstring src = Widen(source);
    const std::wstring desc = Widen(description);
    create->SetGUID(iid);
    create->SetSource(const_cast<LPOLESTR>(src.c_str()));
    create->SetDescription(const_cast<LPOLESTR>(desc.c_str()));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(info.Put()))))
      SetErrorInfo(0, info.Get());
  }
  return HResultOf(number);
}

}  // namespace qz::win
