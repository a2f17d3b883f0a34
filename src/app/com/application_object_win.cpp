#include "app/com/application_object_win.h"

#include "app/com/error_info_win.h"
#include "app/com/kvk_data_object_win.h"

namespace qz::win {

ApplicationObject::ApplicationObject() : app_(std::make_unique<qz::clsApplication>()) {}

_clsApplication* ApplicationObject::Create() {
  return new ApplicationObject();
}

HRESULT ApplicationObject::get_WaitingTime(short* value) {
  if (value == nullptr) return E_POINTER;
  *value = app_->WaitingTime();
  return S_OK;
}

HRESULT ApplicationObject::put_WaitingTime(short value) {
  app_->WaitingTime(value);
  return S_OK;
}

HRESULT ApplicationObject::get_CommPort(short* value) {
  if (value == nullptr) return E_POINTER;
  *value = app_->CommPort();
  return S_OK;
}

HRESULT ApplicationObject::put_CommPort(short value) {
  app_->CommPort(value);
  return S_OK;
}

HRESULT ApplicationObject::ReadCard(::enmCardReaderType* CardReaderType, ::enmReturnValue* result) {
  if (CardReaderType == nullptr || result == nullptr) return E_POINTER;
  // The host's reference stays alive while the read runs its modal loop, in which the host's
  // own code may drop every other reference.
  AddRef();
  const auto keep_alive = ComPtr<_clsApplication>::Attach(this);
  *result = ::RV_ReadSuccessful;
  return ComEdge(IID__clsApplication,
                 [&] { *result = static_cast<::enmReturnValue>(app_->ReadCard(*CardReaderType)); });
}

HRESULT ApplicationObject::GetCardPort(short* port) {
  if (port == nullptr) return E_POINTER;
  AddRef();
  const auto keep_alive = ComPtr<_clsApplication>::Attach(this);
  return ComEdge(IID__clsApplication, [&] { *port = app_->GetCardPort(); });
}

HRESULT ApplicationObject::Test() {
  return ComEdge(IID__clsApplication, [&] { app_->Test(); });
}

HRESULT ApplicationObject::get_KVKData(_clsKVKData** record) {
  if (record == nullptr) return E_POINTER;
  *record = nullptr;
  return ComEdge(IID__clsApplication, [&] {
    std::shared_ptr<qz::clsKVKData> current = app_->KVKData();
    if (!current) return;  // Nothing: a cancelled read or a silent terminal
    auto* held = static_cast<KVKDataObject*>(record_object_.Get());
    if (held == nullptr || held->Record() != current) {
      _clsKVKData* created = KVKDataObject::Create(std::move(current));
      if (created == nullptr) throw std::bad_alloc();
      record_object_ = ComPtr<_clsKVKData>::Attach(created);
    }
    *record = record_object_.Copy();
  });
}

}  // namespace qz::win
