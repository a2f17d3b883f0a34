#include "app/com/kvk_data_object_win.h"

#include <new>

#include "app/com/error_info_win.h"
#include "base/text_win.h"

namespace qz::win {

_clsKVKData* KVKDataObject::Create(std::shared_ptr<qz::clsKVKData> record) {
  return new (std::nothrow) KVKDataObject(std::move(record));
}

HRESULT KVKDataObject::Get(KVKField field, BSTR* value) {
  if (value == nullptr) return E_POINTER;
  *value = nullptr;
  return ComEdge(IID__clsKVKData, [&] {
    *value = ToBstr(record_->Get(field));
    if (*value == nullptr) throw std::bad_alloc();
  });
}

HRESULT KVKDataObject::Let(KVKField field, BSTR value) {
  return ComEdge(IID__clsKVKData, [&] { record_->Let(field, FromBstr(value)); });
}

}  // namespace qz::win
