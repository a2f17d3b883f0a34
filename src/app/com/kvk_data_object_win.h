// The COM face of one card record (coclass clsKVKData): seventeen string properties over the
// core's shared record. It is handed out only by clsApplication.KVKData and keeps its record
// alive for as long as the host keeps it, whatever the application reads next.
#pragma once

#include <memory>

#include "app/com/dispatch_object_win.h"
#include "kvk/kvk_data.h"
#include "qzCardReader.h"

namespace qz::win {

class KVKDataObject final : public DispatchObject<_clsKVKData, IID__clsKVKData> {
 public:
  // A new object with one reference, or null when out of memory.
  static _clsKVKData* Create(std::shared_ptr<qz::clsKVKData> record);
  const std::shared_ptr<qz::clsKVKData>& Record() const { return record_; }

  HRESULT STDMETHODCALLTYPE get_KrankenKassenName(BSTR* value) override {
    return Get(KVKField::KrankenKassenName, value);
  }
  HRESULT STDMETHODCALLTYPE put_KrankenKassenName(BSTR value) override {
    return Let(KVKField::KrankenKassenName, value);
  }
  HRESULT STDMETHODCALLTYPE get_KrankenKassenNummer(BSTR* value) override {
    return Get(KVKField::KrankenKassenNummer, value);
  }
  HRESULT STDMETHODCALLTYPE put_KrankenKassenNummer(BSTR value) override {
    return Let(KVKField::KrankenKassenNummer, value);
  }
  HRESULT STDMETHODCALLTYPE get_VKNR(BSTR* value) override { return Get(KVKField::VKNR, value); }
  HRESULT STDMETHODCALLTYPE put_VKNR(BSTR value) override { return Let(KVKField::VKNR, value); }
  HRESULT STDMETHODCALLTYPE get_VersichertenNummer(BSTR* value) override {
    return Get(KVKField::VersichertenNummer, value);
  }
  HRESULT STDMETHODCALLTYPE put_VersichertenNummer(BSTR value) override {
    return Let(KVKField::VersichertenNummer, value);
  }
  HRESULT STDMETHODCALLTYPE get_VersichertenStatus(BSTR* value) override {
    return Get(KVKField::VersichertenStatus, value);
  }
  HRESULT STDMETHODCALLTYPE put_VersichertenStatus(BSTR value) override {
    return Let(KVKField::VersichertenStatus, value);
  }
  HRESULT STDMETHODCALLTYPE get_StatusErgaenzung(BSTR* value) override {
    return Get(KVKField::StatusErgaenzung, value);
  }
  HRESULT STDMETHODCALLTYPE put_StatusErgaenzung(BSTR value) override {
    return Let(KVKField::StatusErgaenzung, value);
  }
  HRESULT STDMETHODCALLTYPE get_Titel(BSTR* value) override { return Get(KVKField::Titel, value); }
  HRESULT STDMETHODCALLTYPE put_Titel(BSTR value) override { return Let(KVKField::Titel, value); }
  HRESULT STDMETHODCALLTYPE get_Vorname(BSTR* value) override {
    return Get(KVKField::Vorname, value);
  }
  HRESULT STDMETHODCALLTYPE put_Vorname(BSTR value) override {
    return Let(KVKField::Vorname, value);
  }
  HRESULT STDMETHODCALLTYPE get_NamensZusatz(BSTR* value) override {
    return Get(KVKField::NamensZusatz, value);
  }
  HRESULT STDMETHODCALLTYPE put_NamensZusatz(BSTR value) override {
    return Let(KVKField::NamensZusatz, value);
  }
  HRESULT STDMETHODCALLTYPE get_FamilienName(BSTR* value) override {
    return Get(KVKField::FamilienName, value);
  }
  HRESULT STDMETHODCALLTYPE put_FamilienName(BSTR value) override {
    return Let(KVKField::FamilienName, value);
  }
  HRESULT STDMETHODCALLTYPE get_Geburtsdatum(BSTR* value) override {
    return Get(KVKField::Geburtsdatum, value);
  }
  HRESULT STDMETHODCALLTYPE put_Geburtsdatum(BSTR value) override {
    return Let(KVKField::Geburtsdatum, value);
  }
  HRESULT STDMETHODCALLTYPE get_StrassenName(BSTR* value) override {
    return Get(KVKField::StrassenName, value);
  }
  HRESULT STDMETHODCALLTYPE put_StrassenName(BSTR value) override {
    return Let(KVKField::StrassenName, value);
  }
  HRESULT STDMETHODCALLTYPE get_LaenderCode(BSTR* value) override {
    return Get(KVKField::LaenderCode, value);
  }
  HRESULT STDMETHODCALLTYPE put_LaenderCode(BSTR value) override {
    return Let(KVKField::LaenderCode, value);
  }
  HRESULT STDMETHODCALLTYPE get_PostLeitzahl(BSTR* value) override {
    return Get(KVKField::PostLeitzahl, value);
  }
  HRESULT STDMETHODCALLTYPE put_PostLeitzahl(BSTR value) override {
    return Let(KVKField::PostLeitzahl, value);
  }
  HRESULT STDMETHODCALLTYPE get_OrtsName(BSTR* value) override {
    return Get(KVKField::OrtsName, value);
  }
  HRESULT STDMETHODCALLTYPE put_OrtsName(BSTR value) override {
    return Let(KVKField::OrtsName, value);
  }
  HRESULT STDMETHODCALLTYPE get_Gueltigkeit(BSTR* value) override {
    return Get(KVKField::Gueltigkeit, value);
  }
  HRESULT STDMETHODCALLTYPE put_Gueltigkeit(BSTR value) override {
    return Let(KVKField::Gueltigkeit, value);
  }
  HRESULT STDMETHODCALLTYPE get_Checksum(BSTR* value) override {
    return Get(KVKField::Checksum, value);
  }
  HRESULT STDMETHODCALLTYPE put_Checksum(BSTR value) override {
    return Let(KVKField::Checksum, value);
  }

 private:
  explicit KVKDataObject(std::shared_ptr<qz::clsKVKData> record) : record_(std::move(record)) {}
  HRESULT Get(KVKField field, BSTR* value);
  HRESULT Let(KVKField field, BSTR value);

  std::shared_ptr<qz::clsKVKData> record_;
};

}  // namespace qz::win
