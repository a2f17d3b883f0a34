// The COM edge: which HRESULT a host sees for an error number, and that the error information
// carries source and description.
#include "app/com/error_info_win.h"

#include "app/com/raii_win.h"
#include "app/com/text_win.h"
#include "check_win.h"

namespace qz::win {
namespace {

WIN_TEST("COM edge: own numbers are the HRESULT, run-time numbers travel as 0x800A0000|n") {
  CHECK_EQ(static_cast<std::uint32_t>(HResultOf(-2147221503)), 0x80040001u);
  CHECK_EQ(static_cast<std::uint32_t>(HResultOf(8002)), 0x800A1F42u);
  CHECK_EQ(static_cast<std::uint32_t>(HResultOf(339)), 0x800A0153u);
  CHECK_EQ(static_cast<std::uint32_t>(HResultOf(75)), 0x800A004Bu);
  CHECK(FAILED(HResultOf(0)));
  CHECK(FAILED(HResultOf(0x12345)));
}

WIN_TEST("COM edge: a thrown AutomationError becomes the HRESULT plus error information") {
  const HRESULT hr = ComEdge(IID_IDispatch, [] {
    throw AutomationError(8002, "qzCardReader.Serial", "Invalid port number \xC3\xA4");
  });
  CHECK_EQ(static_cast<std::uint32_t>(hr), 0x800A1F42u);
  ComPtr<IErrorInfo> info;
  CHECK(GetErrorInfo(0, info.Put()) == S_OK);
  if (info) {
    Bstr source, description;
    info->GetSource(source.Put());
    info->GetDescription(description.Put());
    CHECK(FromBstr(source.Get()) == "qzCardReader.Serial");
    CHECK(FromBstr(description.Get()) == "Invalid port number \xC3\xA4");
  }
  CHECK(ComEdge(IID_IDispatch, [] {}) == S_OK);
  CHECK(ComEdge(IID_IDispatch, [] { throw std::bad_alloc(); }) == E_OUTOFMEMORY);
}

}  // namespace
}  // namespace qz::win
