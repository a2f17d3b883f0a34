// The COM face of clsApplication (the creatable coclass): the dual interface _clsApplication
// over the core's object, which runs on the platform of the creating thread.
#pragma once

#include <memory>

#include "app/cls_application.h"
#include "app/com/dispatch_object_win.h"
#include "qzCardReader.h"

namespace qz::win {

class ApplicationObject final : public DispatchObject<_clsApplication, IID__clsApplication> {
 public:
  // A new object with one reference (the core's constructor may throw).
  static _clsApplication* Create();

  HRESULT STDMETHODCALLTYPE get_WaitingTime(short* value) override;
  HRESULT STDMETHODCALLTYPE put_WaitingTime(short value) override;
  HRESULT STDMETHODCALLTYPE get_CommPort(short* value) override;
  HRESULT STDMETHODCALLTYPE put_CommPort(short value) override;
  HRESULT STDMETHODCALLTYPE ReadCard(::enmCardReaderType* CardReaderType,
                                     ::enmReturnValue* result) override;
  HRESULT STDMETHODCALLTYPE GetCardPort(short* port) override;
  HRESULT STDMETHODCALLTYPE Test() override;
  HRESULT STDMETHODCALLTYPE get_KVKData(_clsKVKData** record) override;

 private:
  ApplicationObject();

  std::unique_ptr<qz::clsApplication> app_;
  // The COM object last handed out for the core's current record, so that a host asking twice
  // gets the same object back (hosts compare records with Is).
  ComPtr<_clsKVKData> record_object_;
};

}  // namespace qz::win
